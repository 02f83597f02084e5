#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/mix64.hpp"
#include "engine/proof_table.hpp"
#include "engine/select_backend.hpp"
#include "engine/verify_range.hpp"
#include "gpu/host_grid.hpp"
#include "gpu/launch_plan.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

std::string dec(const BigUint& v) { return biguint_to_decimal(v); }

BackendOptions gpu_options(const char* name, const char* run_mode, std::uint32_t sieve_bits = 24,
                           std::uint32_t block_size = 32) {
    BackendOptions o;
    o.name = name;
    o.run_mode = run_mode;
    o.sieve_bits = sieve_bits;
    o.block_size = block_size;
    return o;
}

BigUint all_completions(const UnitResult& r) {
    BigUint sum = r.u64_completions;
    sum += r.u128_completions;
    sum += r.u256_completions;
    sum += r.bigint_completions;
    return sum;
}

std::string describe(const UnitRange& range) {
    return "[" + u128_to_decimal(range.begin) + ", " + end_to_decimal(range.end, range.end_is_2_128) + ")";
}

// Ranges that cross the places where the counting changes: the small starts at or below the
// table thresholds, 2^16 block edges, 2^64, and the top of the 128-bit space where walks
// overflow into the host finish.
std::vector<UnitRange> differential_ranges() {
    return {
        {{1, 0}, {3000, 0}, false},
        {{(1ull << 33) - 40000, 0}, {(1ull << 33) + 40000, 0}, false},
        {{kMax - 1500, 0}, {1500, 1}, false},
        {{12345, 0x10}, {22345, 0x10}, false},
        {{kMax - 3000, kMax}, {}, true},
    };
}

// Per-start accounting makes the GPU record comparable start for start with a CPU backend.
TEST(HostGrid, PerStartAgreesWithTheCpuBackends) {
    struct Pair {
        const char* gpu;
        const char* cpu;
        std::uint32_t block_size;
        unsigned blocks;
    };
    const Pair pairs[] = {{"cuda-naive", "scalar", 64, 3},
                          {"cuda-sieve", "cpu-sieve", 1, 5},
                          {"cuda-recursive", "record-recursive", 512, 2}};
    for (const auto& p : pairs)
        for (const UnitRange& range : differential_ranges()) {
            SCOPED_TRACE(std::string(p.gpu) + " vs " + p.cpu + " on " + describe(range));
            BackendOptions cpu_opts;
            cpu_opts.name = p.cpu;
            cpu_opts.threads = 2;
            const UnitResult cpu = verify_range(range, cpu_opts);
            const UnitResult gpu = verify_range_on_host(range, gpu_options(p.gpu, "per-start", 16, p.block_size), p.blocks);
            ASSERT_TRUE(cpu.valid) << cpu.message;
            ASSERT_TRUE(gpu.valid) << gpu.message;
            EXPECT_EQ(dec(gpu.checked), dec(cpu.checked));
            EXPECT_EQ(dec(gpu.candidates), dec(cpu.candidates));
            EXPECT_EQ(dec(gpu.survivors_evaluated), dec(cpu.survivors_evaluated));
            EXPECT_EQ(dec(gpu.proof_exclusions), dec(cpu.proof_exclusions));
            EXPECT_EQ(gpu.checksum_sum, cpu.checksum_sum);
            EXPECT_EQ(gpu.checksum_xor, cpu.checksum_xor);
            EXPECT_EQ(dec(gpu.steps), dec(cpu.steps));
            EXPECT_EQ(dec(all_completions(gpu)), dec(all_completions(cpu)));
            EXPECT_EQ(gpu.proof_hash, cpu.proof_hash);  // width 16 is the CPU's proof table
            EXPECT_EQ(gpu.accounting, "per-start");
            EXPECT_TRUE(gpu.frontier_nodes.is_zero());
            EXPECT_EQ(gpu.begin, cpu.begin);
            EXPECT_EQ(gpu.end, cpu.end);
            // Walks that leave 128 bits come back through the host finish as u256 completions.
            EXPECT_EQ(dec(gpu.u256_completions), dec(gpu.overflow_starts));
            if (range.end_is_2_128) {
                EXPECT_FALSE(gpu.overflow_starts.is_zero());
            }
        }
}

// Starts the walk must see under a sieve: the start is odd, not excluded mod 9 and, with a
// table, in an open residue or at or below its threshold.
struct Oracle {
    std::uint64_t candidates = 0, sum = 0, xor_ = 0;
};
Oracle candidates_of(const UnitRange& range, const HostDescentTables* t, unsigned k) {
    Oracle o;
    const std::uint64_t n = unit_size(range);
    for (std::uint64_t i = 0; i < n; ++i) {
        const U128 s = add_u64(range.begin, i);
        if (s == U128{1, 0} || excluded(s, false)) continue;
        if (t != nullptr) {
            const std::uint64_t e = t->table[s.lo & ((1ull << k) - 1)];
            if (e != kNoDescent && (s.hi != 0 || s.lo > e)) continue;
        }
        ++o.candidates;
        o.sum += start_checksum(s);
        o.xor_ ^= start_checksum(s);
    }
    return o;
}

// Fast accounting walks the same starts as per-start accounting; only the checksums change,
// to cover the candidates alone. Above the largest threshold "cuda-recursive" enumerates the
// survivor frontier instead of every start.
TEST(HostGrid, FastAccountingAndTheFrontier) {
    const UnitRange ranges[] = {
        {{(1ull << 40) + 1234, 0}, {(1ull << 40) + 101234, 0}, false},  // unaligned both ends
        {{4096 * 5, 0}, {4096 * 9, 0}, false},                         // aligned to 2^12 blocks
        {{kMax - 20000, kMax}, {}, true},                              // ends at 2^128
    };
    for (const UnitRange& range : ranges)
        for (const char* name : {"cuda-sieve", "cuda-recursive"}) {
            SCOPED_TRACE(std::string(name) + " on " + describe(range));
            const bool recursive = std::string(name) == "cuda-recursive";
            const UnitResult slow = verify_range_on_host(range, gpu_options(name, "per-start", 12), 3);
            const UnitResult fast = verify_range_on_host(range, gpu_options(name, "fast", 12), 3);
            const std::uint64_t n = unit_size(range);
            const Oracle want = candidates_of(range, recursive ? &host_descent_tables(12) : nullptr, 12);
            ASSERT_TRUE(fast.valid) << fast.message;
            EXPECT_EQ(fast.accounting, "survivor-frontier");
            EXPECT_EQ(dec(fast.checked), std::to_string(n));
            EXPECT_EQ(dec(fast.candidates), std::to_string(want.candidates));
            EXPECT_EQ(dec(fast.proof_exclusions), std::to_string(n - want.candidates));
            EXPECT_EQ(fast.checksum_sum, want.sum);
            EXPECT_EQ(fast.checksum_xor, want.xor_);
            EXPECT_EQ(dec(fast.candidates), dec(slow.candidates));
            EXPECT_EQ(dec(fast.steps), dec(slow.steps));
            EXPECT_EQ(dec(fast.u256_completions), dec(slow.u256_completions));
            const std::uint64_t blocks = ((range.begin.lo & 4095) + n + 4095) / 4096;
            EXPECT_EQ(dec(fast.frontier_nodes), recursive ? std::to_string(blocks * 226) : "0");
            EXPECT_EQ(fast.proof_hash, recursive ? host_descent_tables(12).proof_hash : "");
        }
}

TEST(HostGrid, FrontierOnTheTuningRange) {
    const UnitRange tuning{{1ull << 32, 0}, {(1ull << 32) + (1ull << 26), 0}, false};
    const UnitResult r = verify_range_on_host(tuning, gpu_options("cuda-recursive", "fast", 24, 256), 4);
    ASSERT_TRUE(r.valid) << r.message;
    EXPECT_EQ(dec(r.checked), "67108864");
    EXPECT_EQ(dec(r.frontier_nodes), "1146324");  // 4 blocks of 2^24 x 286,581 survivors
    EXPECT_EQ(r.accounting, "survivor-frontier");
    EXPECT_EQ(r.proof_hash, host_descent_tables(24).proof_hash);
    EXPECT_FALSE(r.candidates.is_zero());
    EXPECT_EQ(dec(r.proof_exclusions), std::to_string(67108864 - r.candidates.limbs()[0]));
    EXPECT_EQ(dec(r.u64_completions), dec(r.candidates));
    EXPECT_TRUE(r.u128_completions.is_zero());
    // Widths are clamped to 12..24.
    const UnitRange small{{1ull << 32, 0}, {(1ull << 32) + 10, 0}, false};
    EXPECT_EQ(verify_range_on_host(small, gpu_options("cuda-recursive", "fast", 30), 1).proof_hash,
              host_descent_tables(24).proof_hash);
    EXPECT_EQ(verify_range_on_host(small, gpu_options("cuda-recursive", "fast", 5), 1).proof_hash,
              host_descent_tables(12).proof_hash);
}

// Backend selection proves the GPU family on [1, 101) before timing it; the kernel's code run
// on the host passes that known-answer test.
TEST(HostGrid, PassesTheSelectionSelfTest) {
    SelectionHooks hooks;
    hooks.run_backend = [](const UnitRange& range, const BackendOptions& options) {
        return verify_range_on_host(range, options, 2);
    };
    BackendOptions family = gpu_options("cuda-recursive", "fast", 24, 256);
    EXPECT_NO_THROW(self_test_backend(family, hooks));
    family.name = "cuda-sieve";  // no table, so no proof hash and more candidates
    EXPECT_THROW(self_test_backend(family, hooks), std::runtime_error);
}

TEST(HostGrid, GridShapeDoesNotChangeTheAggregate) {
    const UnitRange range{{kMax - 5000, kMax}, {}, true};
    const UnitResult want = verify_range_on_host(range, gpu_options("cuda-naive", "per-start", 12, 1), 1);
    ASSERT_FALSE(want.overflow_starts.is_zero());
    struct Shape {
        std::uint32_t block_size;
        unsigned blocks;
    };
    for (const Shape s : {Shape{1, 7}, Shape{2, 1}, Shape{32, 3}, Shape{256, 4}, Shape{512, 1}, Shape{512, 20}}) {
        const UnitResult r = verify_range_on_host(range, gpu_options("cuda-naive", "per-start", 12, s.block_size), s.blocks);
        SCOPED_TRACE("block size " + std::to_string(s.block_size) + " blocks " + std::to_string(s.blocks));
        EXPECT_EQ(dec(r.checked), dec(want.checked));
        EXPECT_EQ(dec(r.candidates), dec(want.candidates));
        EXPECT_EQ(dec(r.steps), dec(want.steps));
        EXPECT_EQ(dec(r.overflow_starts), dec(want.overflow_starts));
        EXPECT_EQ(r.checksum_sum, want.checksum_sum);
        EXPECT_EQ(r.checksum_xor, want.checksum_xor);
    }
}

TEST(HostGrid, OverflowQueueCapacity) {
    // Every odd start in the top 64 overflows at once: 32 of them.
    const UnitRange range{{kMax - 63, kMax}, {}, true};
    const UnitResult roomy = verify_range_on_host(range, gpu_options("cuda-naive", "per-start", 12), 2, 64);
    ASSERT_TRUE(roomy.valid);
    EXPECT_EQ(dec(roomy.overflow_starts), "32");
    EXPECT_EQ(dec(roomy.u256_completions), "32");
    EXPECT_EQ(dec(roomy.u128_completions), "32");  // the even starts, finished on the device
    const UnitResult tight = verify_range_on_host(range, gpu_options("cuda-naive", "per-start", 12), 2, 5);
    EXPECT_FALSE(tight.valid);
    EXPECT_EQ(tight.message, "CUDA overflow queue capacity exceeded");
    EXPECT_EQ(dec(tight.overflow_starts), "32");
    EXPECT_EQ(dec(tight.u256_completions), "5");  // only the queued entries are finished
    EXPECT_EQ(dec(tight.checked), "64");
}

TEST(HostGrid, SmallStartsAndCompletionClasses) {
    // 0 and 1: 1 is visited but never a candidate; 0 is a candidate with no steps.
    const UnitResult naive = verify_range_on_host({{0, 0}, {10, 0}, false}, gpu_options("cuda-naive", "per-start"), 1);
    BackendOptions scalar;
    scalar.name = "scalar";
    const UnitResult cpu = verify_range({{2, 0}, {10, 0}, false}, scalar);
    EXPECT_EQ(dec(naive.checked), "10");
    EXPECT_EQ(dec(naive.candidates), "9");
    EXPECT_EQ(dec(naive.proof_exclusions), "1");
    EXPECT_EQ(dec(naive.steps), dec(cpu.steps));
    EXPECT_EQ(naive.checksum_sum, cpu.checksum_sum + start_checksum(U128{1, 0}));
    EXPECT_TRUE(naive.proof_hash.empty());

    // A start at or below the largest threshold keeps the frontier off, even in fast mode.
    const UnitResult low = verify_range_on_host({{1, 0}, {1000, 0}, false}, gpu_options("cuda-recursive", "fast", 12), 2);
    EXPECT_TRUE(low.frontier_nodes.is_zero());
    EXPECT_EQ(dec(low.checked), "999");
    EXPECT_EQ(low.accounting, "survivor-frontier");

    struct Case {
        UnitRange range;
        bool u64;
    };
    const Case cases[] = {{{{kMax - 10, 0}, {kMax, 0}, false}, true},
                          {{{kMax - 10, 0}, {0, 1}, false}, false},
                          {{{5, 1}, {25, 1}, false}, false}};
    for (const auto& c : cases) {
        const UnitResult r = verify_range_on_host(c.range, gpu_options("cuda-sieve", "fast"), 1);
        SCOPED_TRACE(describe(c.range));
        EXPECT_FALSE(r.candidates.is_zero());
        EXPECT_EQ(dec(c.u64 ? r.u64_completions : r.u128_completions), dec(r.candidates));
        EXPECT_TRUE((c.u64 ? r.u128_completions : r.u64_completions).is_zero());
    }
}

TEST(HostGrid, SplitLaunchesGiveTheOneLaunchRecord) {
    // Launches of at most 500 items against one launch: parts of one 2^12 block, or of two
    // blocks (452 items) for the frontier.
    const UnitRange ranges[] = {
        {{(1ull << 33) - 40000, 0}, {(1ull << 33) + 40000, 0}, false},
        {{kMax - 9000, 0}, {9000, 1}, false},  // parts wholly below 2^64 still count as u128
        {{kMax - 3000, kMax}, {}, true},       // queued overflows, the end 2^128
    };
    const BackendOptions options[] = {gpu_options("cuda-naive", "per-start", 12), gpu_options("cuda-sieve", "fast", 12),
                                      gpu_options("cuda-recursive", "fast", 12),
                                      gpu_options("cuda-recursive", "per-start", 12)};
    for (const UnitRange& range : ranges)
        for (const BackendOptions& o : options) {
            SCOPED_TRACE(o.name + " " + o.run_mode + " on " + describe(range));
            const UnitResult one = verify_range_on_host(range, o, 2);
            const UnitResult split = verify_range_on_host(range, o, 2, kOverflowCapacity, 500);
            EXPECT_EQ(result_json(split), result_json(one));
            EXPECT_TRUE(one.valid);
        }
    // The frontier's items are whole blocks in every part, so they add up to the one launch's.
    const UnitResult frontier = verify_range_on_host(ranges[0], options[2], 2, kOverflowCapacity, 500);
    EXPECT_EQ(dec(frontier.frontier_nodes), std::to_string(20 * 226));  // 80,000 starts from 960 into a block
}

TEST(HostGrid, LaunchPlanEdges) {
    struct Case {
        const char* name;
        bool fast_steps, sieve, recursive;
    };
    for (const auto& c : {Case{"cuda-naive", false, false, false}, Case{"cuda-sieve", true, true, false},
                          Case{"cuda-recursive", true, true, true}, Case{"cuda-other", true, false, false},
                          Case{"CUDA-recursive", true, false, false}}) {
        const GpuSwitches sw = gpu_switches(c.name);
        EXPECT_EQ(sw.fast_steps, c.fast_steps) << c.name;
        EXPECT_EQ(sw.sieve, c.sieve) << c.name;
        EXPECT_EQ(sw.recursive, c.recursive) << c.name;
    }
    EXPECT_EQ(sieve_width(0), 12u);
    EXPECT_EQ(sieve_width(16), 16u);
    EXPECT_EQ(sieve_width(kMax >> 32), 24u);

    // The frontier stays off when its item count would not fit in 64 bits.
    RecursiveTables t;
    t.survivor_count = 3;
    t.max_threshold = 24;
    const BackendOptions o = gpu_options("cuda-recursive", "fast", 12);
    const UnitRange huge{{4095, 1}, {4094, 2}, false};  // 2^64 - 1 starts from residue 4095
    const LaunchPlan off = plan_launch(huge, kMax, o, &t);
    EXPECT_FALSE(off.args.frontier);
    EXPECT_EQ(off.args.work_items, kMax);
    const UnitRange big{{0, 1}, {kMax - 4095, 1}, false};
    const LaunchPlan on = plan_launch(big, kMax - 4095, o, &t);
    ASSERT_TRUE(on.args.frontier);
    EXPECT_EQ(on.args.work_items, ((kMax - 4095) / 4096) * 3);
    EXPECT_EQ(on.args.frontier_base, (U128{0, 1}));
    t.survivor_count = kMax / 2;
    EXPECT_FALSE(plan_launch(big, kMax - 4095, o, &t).args.frontier);
    t.survivor_count = 0;
    EXPECT_FALSE(plan_launch(big, kMax - 4095, o, &t).args.frontier);
}

}  // namespace
}  // namespace pelorin
