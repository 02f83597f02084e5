#include "engine/verify_range.hpp"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "engine/chunk_pool.hpp"
#include "engine/verify_chunk.hpp"
#include "engine/verify_chunk_avx2.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {

bool is_threaded_backend(const std::string& name) {
    return name == "threaded" || name == "avx2-experimental" || name == "cpu-sieve" || name == "hybrid-experimental" ||
           name == "record-recursive";
}

UnitResult verify_threaded(const UnitRange& range, const BackendOptions& options, const std::string& mode) {
    const std::uint64_t count = unit_size(range);
    const std::uint64_t chunk = std::max<std::uint64_t>(1, options.chunk_starts);
    const std::uint64_t chunks = count / chunk + (count % chunk != 0 ? 1 : 0);
    unsigned threads = options.threads;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    // Threads beyond the chunk count would find no work; not starting them changes nothing.
    threads = static_cast<unsigned>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(threads, chunks)));
    const bool avx2 = options.name == "avx2-experimental";

    // Counters and checksums fold in any order, so each pool thread keeps one running sum
    // instead of a record per chunk (a unit may hold billions of chunks). Only the texts of
    // failed chunks depend on order; they are kept by chunk index and joined in that order.
    struct Partial {
        UnitResult sum;
        std::map<std::uint64_t, UnitResult> flagged;
    };
    std::vector<Partial> partials(threads);
    run_chunk_pool(chunks, threads, [&](unsigned thread, std::uint64_t i) {
        const std::uint64_t offset = chunk * i;
        const std::uint64_t n = std::min(count - offset, chunk);
        UnitResult r = avx2 ? verify_chunk_avx2(range, offset, n, options.name) : verify_chunk(range, offset, n, options.name);
        Partial& p = partials[thread];
        if (!r.valid || !r.message.empty()) {
            UnitResult note;
            note.valid = r.valid;
            note.message = std::move(r.message);
            r.valid = true;
            r.message.clear();
            p.flagged.emplace(i, std::move(note));
        }
        merge(p.sum, r);
    });

    UnitResult result;
    result.mode = mode;
    result.backend = options.name;
    result.begin = u128_to_decimal(range.begin);
    result.end = end_to_decimal(range.end, range.end_is_2_128);
    std::map<std::uint64_t, UnitResult> flagged;
    for (auto& p : partials) {
        merge(result, p.sum);
        flagged.merge(p.flagged);
    }
    for (const auto& [index, note] : flagged) merge(result, note);
    return result;
}

UnitResult verify_range(const UnitRange& range, const BackendOptions& options) {
    const auto t0 = std::chrono::steady_clock::now();
    UnitResult result;
    if (is_threaded_backend(options.name)) {
        result = verify_threaded(range, options, "verify");
    } else {
        const std::uint64_t count = unit_size(range);
        result = verify_chunk(range, 0, count, options.name);
        result.begin = u128_to_decimal(range.begin);
        result.end = end_to_decimal(range.end, range.end_is_2_128);
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
    result.elapsed_seconds = static_cast<double>(ns) / 1e9;
    return result;
}

}  // namespace pelorin
