#pragma once
// `pelorin-worker verify`: one range, one backend, the whole record on one line.
#include <CLI/CLI.hpp>

namespace pelorin {

// Adds the subcommand; after parsing, run_verify() prints the record and gives the exit status.
class VerifyCommand {
public:
    explicit VerifyCommand(CLI::App& parent);
    CLI::App* app() const { return app_; }
    int run() const;

private:
    CLI::App* app_;
    std::string backend_;
    std::string begin_;
    std::string end_;
    std::uint32_t threads_ = 0;
    std::string chunk_starts_ = "65536";
    std::uint32_t block_size_ = 256;
    std::uint32_t sieve_bits_ = 24;
    std::string run_mode_ = "fast";
};

}  // namespace pelorin
