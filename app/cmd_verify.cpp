#include "app/cmd_verify.hpp"

#include <charconv>
#include <iostream>
#include <optional>

#include "app/record_json.hpp"
#include "gpu/run_backend.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin {
namespace {

// A decimal count that fits 64 bits: a minus sign or a value of 2^64 or more is refused, not
// wrapped or clamped.
std::optional<std::uint64_t> parse_count(const std::string& text) {
    std::uint64_t value = 0;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value, 10);
    if (text.empty() || error != std::errc{} || end != last) return std::nullopt;
    return value;
}

const char* const kChunkStartsRule = "a whole number from 0 to 18446744073709551615 (2^64 - 1) is needed";

}  // namespace

VerifyCommand::VerifyCommand(CLI::App& parent) {
    app_ = parent.add_subcommand("verify", "Verify one range of starts offline and print its result record as JSON");
    app_->add_option("--backend", backend_,
                     "Backend name: scalar, fused, threaded, ctz, cpu-sieve, hybrid-experimental, "
                     "record-recursive, avx2-experimental, cuda-naive, cuda-sieve, cuda-recursive")
        ->required();
    app_->add_option("--begin", begin_, "First start (decimal, 0x-hex or 2^k; blanks are ignored)")->required();
    app_->add_option("--end", end_, "Exclusive end (as --begin, or 2^128)")->required();
    app_->add_option("--threads", threads_, "Pool threads; 0 uses every hardware thread")->capture_default_str();
    app_->add_option("--chunk-starts", chunk_starts_, "Starts per chunk of the thread pool (0 is taken as 1)")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](std::string& text) { return parse_count(text) ? std::string() : std::string(kChunkStartsRule); },
            "COUNT"));
    app_->add_option("--block-size", block_size_, "CUDA threads per block: a power of two up to 512")
        ->capture_default_str();
    app_->add_option("--sieve-bits", sieve_bits_, "Descent table width of cuda-recursive (used as 12..24)")
        ->capture_default_str();
    app_->add_option("--run-mode", run_mode_,
                     "CUDA accounting: fast (survivor frontier), anything else per-start")
        ->capture_default_str();
    app_->footer(
        "Prints one line: a JSON object with every field of the result record.\n"
        "Exit status: 0 valid record, 1 invalid record (a counterexample, or no CUDA device for a cuda- backend),\n"
        "2 bad arguments or input, 3 other failure.");
}

int VerifyCommand::run() const {
    UnitRange range;
    range.begin = parse_u128(begin_);
    const EndBound end = parse_end_bound(end_);
    range.end = end.value;
    range.end_is_2_128 = end.end_is_2_128;
    BackendOptions options;
    options.name = backend_;
    options.threads = threads_;
    options.chunk_starts = *parse_count(chunk_starts_);
    options.block_size = block_size_;
    options.sieve_bits = sieve_bits_;
    options.run_mode = run_mode_;
    const UnitResult result = run_backend(range, options);
    std::cout << full_record_json(result) << std::endl;
    return result.valid ? 0 : 1;
}

}  // namespace pelorin
