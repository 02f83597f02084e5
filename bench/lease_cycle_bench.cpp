// What the lease cycle itself costs per chunk (folding the chunk's record, the durable
// checkpoint save, the progress text), beside the chunk it accompanies: chunks are sized to
// about 0.75 s of work, so the bookkeeping's share is its time over 0.75 s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "state/checkpoint.hpp"
#include "worker/status_text.hpp"

namespace {

constexpr double kChunkSeconds = 0.75;

pelorin::UnitResult sample_record() {
    pelorin::UnitResult r;
    r.mode = "verify";
    r.backend = "record-recursive";
    r.checked = pelorin::BigUint(2100000000);
    r.candidates = r.survivors_evaluated = r.u64_completions = pelorin::BigUint(37800000);
    r.proof_exclusions = pelorin::BigUint(2062200000);
    r.steps = pelorin::BigUint(1960000000000ull);
    r.checksum_sum = 0x0123456789abcdefull;
    r.checksum_xor = 0xfedcba9876543210ull;
    r.proof_hash = "c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9";
    r.elapsed_seconds = 0.7512345;
    return r;
}

void BM_ChunkBookkeeping(benchmark::State& state) {
    const auto base = std::filesystem::temp_directory_path() / "pelorin-lease-cycle-bench";
    setenv("LOCALAPPDATA", base.c_str(), 1);
    const pelorin::UnitResult chunk = sample_record();
    pelorin::Checkpoint cp{"lease-17", "1099511627776", "1108101562368", 0, pelorin::UnitResult{}};
    std::uint64_t offset = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        pelorin::merge(cp.result, chunk);
        offset += 2100000000;
        cp.offset = offset;
        pelorin::save_checkpoint(cp);
        benchmark::DoNotOptimize(pelorin::progress_text("record-recursive", 42.0, 2.8e9, 3, 12.0));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::filesystem::remove_all(base);
    state.counters["share_of_chunk_pct"] = 100.0 * seconds / static_cast<double>(state.iterations()) / kChunkSeconds;
}

}  // namespace

BENCHMARK(BM_ChunkBookkeeping)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
