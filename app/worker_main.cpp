// pelorin-worker: the headless worker and its offline tools.
#include <CLI/CLI.hpp>
#include <iostream>
#include <stdexcept>

#include "app/cmd_run.hpp"
#include "app/cmd_status.hpp"
#include "app/cmd_verify.hpp"

int main(int argc, char** argv) {
    CLI::App app{"Volunteer worker for the 3x+1 verification campaign"};
    app.require_subcommand(1);
    pelorin::VerifyCommand verify(app);
    pelorin::RunCommand run(app);
    pelorin::StatusCommand status(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    // Errors carry the system's own message; bad input is status 2, anything else 3.
    try {
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
