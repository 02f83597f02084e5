// The GPU kernel's per-item code run on one host core: what a launch asks of the device.
// Counters give the launch's shape (work items, candidates, steps per candidate) so the
// first run on real hardware can be set beside it; the host rate is one core's, not a GPU's.
#include <benchmark/benchmark.h>

#include "gpu/host_grid.hpp"
#include "gpu/launch_plan.hpp"
#include "wideint/biguint.hpp"

namespace {

constexpr std::uint64_t kBegin = std::uint64_t{1} << 32;

pelorin::BackendOptions recursive(const char* run_mode) {
    pelorin::BackendOptions o;
    o.name = "cuda-recursive";
    o.run_mode = run_mode;
    o.sieve_bits = 24;
    o.block_size = 256;
    return o;
}

void report(benchmark::State& state, const pelorin::UnitResult& r, std::uint64_t starts, std::uint64_t items) {
    const double candidates = r.candidates.to_double();
    state.counters["work_items"] = double(items);
    state.counters["items/start"] = double(items) / double(starts);
    state.counters["candidates"] = candidates;
    state.counters["steps/candidate"] = candidates > 0 ? r.steps.to_double() / candidates : 0.0;
    state.counters["starts/s"] = benchmark::Counter(double(starts) * state.iterations(), benchmark::Counter::kIsRate);
}

// Fast accounting: the survivor frontier over units of 2^arg starts from 2^32.
void BM_HostFrontier(benchmark::State& state) {
    const std::uint64_t n = std::uint64_t{1} << state.range(0);
    const pelorin::UnitRange range{{kBegin, 0}, {kBegin + n, 0}, false};
    (void)pelorin::host_descent_tables(24);  // built once, outside the timing
    pelorin::UnitResult r;
    for (auto _ : state) r = pelorin::verify_range_on_host(range, recursive("fast"), 16);
    const std::uint64_t items = r.frontier_nodes.is_zero() ? n : r.frontier_nodes.limbs()[0];
    report(state, r, n, items);
}

// Per-start accounting: every start is a work item and pays its checksum and sieve test.
void BM_HostPerStart(benchmark::State& state) {
    const std::uint64_t n = std::uint64_t{1} << state.range(0);
    const pelorin::UnitRange range{{kBegin, 0}, {kBegin + n, 0}, false};
    (void)pelorin::host_descent_tables(24);
    pelorin::UnitResult r;
    for (auto _ : state) r = pelorin::verify_range_on_host(range, recursive("per-start"), 16);
    report(state, r, n, n);
}

}  // namespace

BENCHMARK(BM_HostFrontier)->Arg(16)->Arg(20)->Arg(24)->Arg(26)->Arg(28)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostPerStart)->Arg(22)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
