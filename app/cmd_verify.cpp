#include "app/cmd_verify.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <optional>

#include "app/console_output.hpp"
#include "app/record_json.hpp"
#include "engine/verify_range.hpp"
#include "gpu/run_backend.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

// A progress line is redrawn about this often.
constexpr double kSliceSeconds = 0.5;
// The first slice, before the rate is known: a few milliseconds on any pool backend.
constexpr std::uint64_t kFirstSlice = std::uint64_t{1} << 24;

// The pool backends run the range in slices whose bounds fall on the pool's own chunk
// bounds, so the merged record is the one a single call gives (counters, checksums and the
// texts of failed chunks in chunk order), and a progress line is drawn between slices on
// standard error.
UnitResult verify_with_progress(const UnitRange& range, const BackendOptions& options, std::FILE* err) {
    const std::uint64_t count = unit_size(range);
    const std::uint64_t chunk = std::max<std::uint64_t>(1, options.chunk_starts);
    const auto whole_chunks = [&](double starts) {
        const double chunks = std::max(1.0, std::floor(starts / static_cast<double>(chunk)));
        // Saturate before converting: the product may pass 2^64.
        return chunks * static_cast<double>(chunk) >= 1.8e19 ? count : static_cast<std::uint64_t>(chunks) * chunk;
    };
    UnitResult total;
    total.mode = "verify";
    total.backend = options.name;
    total.begin = u128_to_decimal(range.begin);
    total.end = end_to_decimal(range.end, range.end_is_2_128);
    const auto t0 = std::chrono::steady_clock::now();
    std::uint64_t done = 0;
    std::uint64_t slice = whole_chunks(static_cast<double>(kFirstSlice));
    do {
        const std::uint64_t n = std::min(count - done, slice);
        merge(total, verify_range(sub_range(range, done, n), options));
        done += n;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double rate = static_cast<double>(done) / std::max(1e-6, seconds);
        const auto left = std::chrono::duration<double>(static_cast<double>(count - done) / std::max(1.0, rate));
        std::fprintf(err, "\r\x1b[K%.2f%% \xC2\xB7 %s starts/s \xC2\xB7 %s left",
                     count == 0 ? 100.0 : static_cast<double>(done) * 100.0 / static_cast<double>(count),
                     format_rate(rate).c_str(),
                     wait_text(std::chrono::duration_cast<std::chrono::nanoseconds>(left)).c_str());
        std::fflush(err);
        slice = whole_chunks(rate * kSliceSeconds);
    } while (done < count);
    std::fputs("\r\x1b[K", err);  // the line goes; the record stands alone
    std::fflush(err);
    total.elapsed_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return total;
}

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
        "Prints one line: a JSON object with every field of the result record. On a terminal, the pool\n"
        "backends draw a progress line (percentage, rate, time left) on standard error while they run.\n"
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
    // Progress only where someone watches: a terminal on standard error, a pool backend.
    const ConsoleOutput console(stderr);
    const UnitResult result = console.redraw_in_place() && is_threaded_backend(options.name)
                                  ? verify_with_progress(range, options, stderr)
                                  : run_backend(range, options);
    std::cout << full_record_json(result) << std::endl;
    // A record that did not reach its file (a full disk, a size limit) is no result.
    if (!std::cout) throw std::runtime_error("Could not write the record to standard output");
    return result.valid ? 0 : 1;
}

}  // namespace pelorin
