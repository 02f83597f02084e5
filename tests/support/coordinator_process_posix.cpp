#include "tests/support/coordinator_process.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_folder.hpp"
#include "tools/dev-coordinator/tls_material.hpp"

extern char** environ;

namespace pelorin::test_support {
namespace {

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

std::string coordinator_binary() { return PELORIN_COORDINATOR_BINARY; }

CoordinatorProcess::CoordinatorProcess() : folder_(make_temp_folder("pelorin-coordinator")) {
    try {
        ca_file_ = devcoord::ensure_tls_material(folder_).ca_certificate;
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        throw;
    }
}

CoordinatorProcess::~CoordinatorProcess() {
    child_.stop();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

CommandResult run_program(const std::vector<std::string>& argv_text, const std::filesystem::path& scratch) {
    std::vector<std::string> args = argv_text;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::filesystem::path out_file = scratch / "command.out";
    const std::filesystem::path err_file = scratch / "command.err";
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) ::_exit(126);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    CommandResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = file_text(out_file);
    r.err = file_text(err_file);
    return r;
}

CommandResult CoordinatorProcess::command(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {coordinator_binary(), "--state-dir", folder_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, folder_);
}

void CoordinatorProcess::serve(const std::vector<std::string>& flags) {
    std::vector<std::string> argv = {coordinator_binary(), "--state-dir", folder_.string(), "serve",
                                     "--listen",           "127.0.0.1:0",  "--tls-cert",    certificate().string(),
                                     "--tls-key",          key().string()};
    argv.insert(argv.end(), flags.begin(), flags.end());
    const std::vector<std::string> lines = child_.start(argv, {"Listening on https://127.0.0.1:"}, folder_ / "journal.log");
    port_ = std::stoi(lines[0]);
}

std::string CoordinatorProcess::journal() const { return file_text(folder_ / "journal.log"); }

}  // namespace pelorin::test_support
