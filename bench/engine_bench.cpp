// The engine on the tuning range (2^26 starts from 2^32) beside the floor every start pays:
// its checksum. Reported in starts per second.
#include <benchmark/benchmark.h>

#include <thread>

#include "engine/checksum_span.hpp"
#include "engine/chunk_pool.hpp"
#include "engine/mix64.hpp"
#include "engine/verify_range.hpp"

namespace {

constexpr std::uint64_t kBegin = std::uint64_t{1} << 32;
constexpr std::uint64_t kCount = std::uint64_t{1} << 26;
constexpr std::uint64_t kChunk = 65536;

unsigned hardware_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

// hi selects the high limb of the range: 0 is the tuning range itself, 16 puts the same
// low limbs at 2^68, where campaign work lives and walks need 128 bits.
void BM_Backend(benchmark::State& state, const char* name, std::uint64_t hi = 0) {
    pelorin::BackendOptions o;
    o.name = name;
    const pelorin::UnitRange range{pelorin::U128{kBegin, hi}, pelorin::U128{kBegin + kCount, hi}, false};
    for (auto _ : state) benchmark::DoNotOptimize(pelorin::verify_range(range, o));
    state.counters["starts/s"] = benchmark::Counter(double(kCount) * state.iterations(), benchmark::Counter::kIsRate);
}

// The checksum floor over the same range, on all threads, with a chosen kernel.
void BM_ChecksumOnly(benchmark::State& state, pelorin::ChecksumSpanFn kernel) {
    const unsigned threads = hardware_threads();
    for (auto _ : state) {
        std::vector<std::uint64_t> sums(threads);
        pelorin::run_chunk_pool(kCount / kChunk, threads, [&](unsigned t, std::uint64_t i) {
            sums[t] += kernel(0, kBegin + i * kChunk, kChunk).sum;
        });
        benchmark::DoNotOptimize(sums.data());
    }
    state.counters["starts/s"] = benchmark::Counter(double(kCount) * state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Backend, record_recursive, "record-recursive")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_68, "record-recursive", 16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ChecksumOnly, scalar, pelorin::checksum_span_scalar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ChecksumOnly, dispatched, pelorin::checksum_span_kernel())->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, cpu_sieve, "cpu-sieve")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, avx2_experimental, "avx2-experimental")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
