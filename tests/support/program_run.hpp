#pragma once
// A program run to its end by a test: standard input from /dev/null, standard output and error
// into files (kept, and returned). The program gets SIGTERM when the calling thread ends first,
// so a test that crashes leaves nothing running.
#include <filesystem>
#include <string>
#include <vector>

namespace pelorin::test_support {

struct CommandResult {
    int status = -1;  // exit status, 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

// argv[0] is found on the PATH when it has no slash. `err_file` may be `out_file`: both
// streams then go to it in the order written. Throws std::runtime_error when it cannot start.
CommandResult run_program(const std::vector<std::string>& argv, const std::filesystem::path& out_file,
                          const std::filesystem::path& err_file);

// The whole file; "" when it cannot be read.
std::string file_text(const std::filesystem::path& path);

}  // namespace pelorin::test_support
