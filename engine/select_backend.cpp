#include "engine/select_backend.hpp"

#include <stdexcept>
#include <vector>

#include "engine/tuning.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {

UnitRange tuning_range() {
    return UnitRange{U128{kTuningBegin, 0}, U128{kTuningBegin + kTuningStarts, 0}, false};
}

void self_test_backend(const BackendOptions& family, const SelectionHooks& hooks) {
    BackendOptions options = family;
    // The device family answers per start with the 2^16 table, which makes its record the
    // same as the CPU's on this range.
    options.sieve_bits = 16;
    options.run_mode = "per-start";
    const UnitResult r = hooks.run_backend(UnitRange{U128{1, 0}, U128{101, 0}, false}, options);
    struct Expect {
        const char* field;
        std::string got;
        std::string want;
    };
    const Expect checks[] = {
        {"valid", r.valid ? "true" : "false", "true"},
        {"checked", biguint_to_decimal(r.checked), "100"},
        {"candidates", biguint_to_decimal(r.candidates), "3"},
        {"steps", biguint_to_decimal(r.steps), "257"},
        {"checksum_sum", std::to_string(r.checksum_sum), std::to_string(kSelfTestChecksumSum)},
        {"checksum_xor", std::to_string(r.checksum_xor), std::to_string(kSelfTestChecksumXor)},
        {"proof_hash", r.proof_hash, kProofTableHash},
    };
    for (const auto& c : checks)
        if (c.got != c.want)
            throw std::runtime_error("Self-test failed: " + options.name + " gave " + c.field + " " + c.got +
                                     " on [1, 101), expected " + c.want);
}

BackendChoice select_backend(std::stop_token stop, const SelectionHooks& hooks) {
    BackendOptions options;
    options.threads = 0;
    options.chunk_starts = kSelectionChunkStarts;
    options.block_size = 256;
    options.sieve_bits = 24;
    options.run_mode = "fast";
    const bool gpu = hooks.cuda_available();
    options.name = gpu ? "cuda-recursive" : "record-recursive";
    self_test_backend(options, hooks);
    hooks.post_status("Self-test passed.\r\nOptimizing for this computer...");

    const std::vector<std::uint32_t> candidates = gpu ? std::vector<std::uint32_t>{128, 256, 512}
                                                       : std::vector<std::uint32_t>{256};
    const UnitRange range = tuning_range();
    // The first pass over a range builds what its walks read and later passes find made (the
    // class-table slices, the survivor lists, a device's descent tables). Timing that pass
    // would report a fraction of the real rate, and the rate sizes every chunk and is what the
    // coordinator is told: an untimed pass first, so the timed ones measure the work.
    if (stop.stop_requested()) throw std::runtime_error("Stopped");
    options.block_size = candidates.front();
    hooks.run_backend(range, options);
    double best_rate = 0.0;
    UnitResult best_record;
    BackendOptions best_options = options;
    bool have_best = false;
    for (const std::uint32_t block : candidates) {
        if (stop.stop_requested()) throw std::runtime_error("Stopped");
        options.block_size = block;
        const UnitResult r = hooks.run_backend(range, options);
        if (!r.valid) continue;
        const double seconds = r.elapsed_seconds > 1e-9 ? r.elapsed_seconds : 1e-9;
        const double rate = r.checked.to_double() / seconds;
        if (rate > best_rate) {
            best_rate = rate;
            best_record = r;
            best_options = options;
            have_best = true;
        }
    }
    if (!have_best || !(best_rate > 0.0) || best_record.proof_hash.empty())
        throw std::runtime_error("No correct backend passed autotuning");
    return BackendChoice{best_options, best_rate, best_record.proof_hash};
}

}  // namespace pelorin
