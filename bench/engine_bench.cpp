// The engine at the heights where campaigns work and at the top of the range (2^26 starts from
// 2^32, or from 2^32 + 2^h; 2^28 starts below 2^128) beside the floor every start pays: its
// checksum. Reported in starts per second.
#include <benchmark/benchmark.h>

#include <thread>

#include "engine/checksum_span.hpp"
#include "engine/chunk_pool.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"
#include "engine/verify_range.hpp"

namespace {

constexpr std::uint64_t kBegin = std::uint64_t{1} << 32;
constexpr std::uint64_t kCount = std::uint64_t{1} << 26;
constexpr std::uint64_t kChunk = 65536;

unsigned hardware_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

// count starts from begin (the last range ends at 2^128).
void BM_Backend(benchmark::State& state, const char* name, pelorin::U128 begin, std::uint64_t count = kCount) {
    pelorin::BackendOptions o;
    o.name = name;
    bool to_top = false;
    const pelorin::U128 end = pelorin::add_u64(begin, count, &to_top);
    const pelorin::UnitRange range{begin, to_top ? pelorin::U128{} : end, to_top};
    for (auto _ : state) benchmark::DoNotOptimize(pelorin::verify_range(range, o));
    state.counters["starts/s"] = benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
}

// The same low limbs as the tuning range, with 2^height added.
pelorin::U128 at(unsigned height) { return pelorin::U128{kBegin, std::uint64_t{1} << (height - 64)}; }
constexpr std::uint64_t kTopCount = std::uint64_t{1} << 28;
const pelorin::U128 kTop{0 - kTopCount, ~std::uint64_t{0}};  // [2^128 - 2^28, 2^128)

// The checksum floor over the same range, on all threads, with a chosen kernel.
void BM_ChecksumOnly(benchmark::State& state, pelorin::ChecksumSpanFn kernel, bool present = true) {
    if (!present) {
        state.SkipWithError("this processor lacks the kernel's instructions");
        return;
    }
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

BENCHMARK_CAPTURE(BM_ChecksumOnly, dispatched, pelorin::checksum_span_kernel())->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_ChecksumOnly, avx2, pelorin::checksum_span_avx2, pelorin::cpu_has_avx2())->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_ChecksumOnly, scalar, pelorin::checksum_span_scalar)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive, "record-recursive", pelorin::U128{kBegin, 0})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_68, "record-recursive", at(68))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_71, "record-recursive", at(71))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_75, "record-recursive", at(75))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_100, "record-recursive", at(100))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_116, "record-recursive", at(116))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_at_2_124, "record-recursive", at(124))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, record_recursive_top, "record-recursive", kTop, kTopCount)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, cpu_sieve, "cpu-sieve", pelorin::U128{kBegin, 0})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(BM_Backend, avx2_experimental, "avx2-experimental", pelorin::U128{kBegin, 0})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

BENCHMARK_MAIN();
