// pelorin-worker: the headless worker and its offline tools.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <stdexcept>

#include "app/cmd_run.hpp"
#include "app/cmd_status.hpp"
#include "app/cmd_verify.hpp"
#include "state/data_folder.hpp"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // A write past a file-size limit then fails with EFBIG, which the program reports as the
    // file it could not write, instead of ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    CLI::App app{"Volunteer worker for the 3x+1 verification campaign", "pelorin-worker"};
    app.set_version_flag("--version", "pelorin-worker " PELORIN_VERSION, "Print the program's name and version and exit");
    // Options of the program as a whole may also follow the subcommand ("run --data-dir DIR");
    // subcommands made after this inherit it.
    app.fallthrough();
    std::string data_dir;
    app.add_option("--data-dir", data_dir,
                   "Folder for the identity and checkpoint, used as is (default: systemd's STATE_DIRECTORY, "
                   "else the user's PelorinWorker folder)")
        ->type_name("DIR")
        ->check([](const std::string& dir) { return dir.empty() ? std::string("the data folder is empty") : std::string(); });
    app.require_subcommand(1);
    pelorin::VerifyCommand verify(app);
    pelorin::RunCommand run(app);
    pelorin::StatusCommand status(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    // Errors carry the system's own message; bad input is status 2, anything else 3.
    try {
        if (!data_dir.empty()) pelorin::set_data_folder(data_dir);
        if (verify.app()->parsed()) return verify.run();
        if (run.app()->parsed()) return run.run();
        if (status.app()->parsed()) return status.run();
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::overflow_error& e) {
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 3;
    }
    return 2;
}
