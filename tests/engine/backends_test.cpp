#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "engine/cpu_features.hpp"
#include "engine/piece_stream.hpp"
#include "engine/proof_table.hpp"
#include "engine/verify_chunk.hpp"
#include "engine/verify_range.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};
const char* const kAllBackends[] = {"scalar",           "fused",           "threaded",           "ctz",
                                    "cpu-sieve",        "hybrid-experimental", "record-recursive", "avx2-experimental"};

UnitResult run(const char* name, UnitRange range, std::uint64_t chunk = 65536, unsigned threads = 2) {
    BackendOptions o;
    o.name = name;
    o.chunk_starts = chunk;
    o.threads = threads;
    return verify_range(range, o);
}

std::string dec(const BigUint& v) { return biguint_to_decimal(v); }

TEST(Backends, ReferenceValuesOnOneToOneHundred) {
    struct Row {
        const char* name;
        std::uint64_t exclusions, candidates, steps;
    };
    const Row rows[] = {{"scalar", 1, 99, 803},          {"fused", 1, 99, 803},
                        {"threaded", 1, 99, 898},        {"cpu-sieve", 72, 28, 426},
                        {"hybrid-experimental", 72, 28, 426}, {"record-recursive", 97, 3, 257}};
    for (const auto& row : rows) {
        for (std::uint64_t chunk : {1ull, 7ull, 65536ull}) {
            const UnitResult r = run(row.name, UnitRange{U128{1, 0}, U128{101, 0}, false}, chunk);
            SCOPED_TRACE(std::string(row.name) + " chunk " + std::to_string(chunk));
            EXPECT_EQ(dec(r.checked), "100");
            EXPECT_EQ(r.checksum_sum, 0xe2a5fa25472999f3ull);
            EXPECT_EQ(r.checksum_xor, 0xc0c53dd80785a299ull);
            EXPECT_EQ(r.proof_exclusions, BigUint(row.exclusions));
            EXPECT_EQ(r.candidates, BigUint(row.candidates));
            EXPECT_EQ(r.survivors_evaluated, BigUint(row.candidates));
            EXPECT_EQ(r.u64_completions, BigUint(row.candidates));
            EXPECT_EQ(r.steps, BigUint(row.steps));
            EXPECT_EQ(r.mode, "verify");
            EXPECT_EQ(r.backend, row.name);
            EXPECT_EQ(r.begin, "1");
            EXPECT_EQ(r.end, "101");
            EXPECT_EQ(r.accounting, "per-start");
            EXPECT_TRUE(r.valid);
            EXPECT_EQ(r.proof_hash, std::string(row.name) == "record-recursive" ? proof_table_hash() : "");
        }
    }
}

TEST(Backends, StartZero) {
    const UnitResult scalar = run("scalar", UnitRange{U128{}, U128{10, 0}, false});
    EXPECT_FALSE(scalar.valid);
    EXPECT_EQ(scalar.message, "counterexample or invalid start at 0");
    EXPECT_EQ(dec(scalar.checked), "1");  // the loop stops at once
    // In the pool, every chunk holding 0 stops; the others still count.
    const UnitResult threaded = run("threaded", UnitRange{U128{}, U128{10, 0}, false}, 4);
    EXPECT_FALSE(threaded.valid);
    EXPECT_EQ(threaded.message, "counterexample or invalid start at 0");
    EXPECT_EQ(dec(threaded.checked), "7");
    const UnitResult sieve = run("cpu-sieve", UnitRange{U128{}, U128{10, 0}, false});
    EXPECT_TRUE(sieve.valid);
    EXPECT_EQ(dec(sieve.proof_exclusions), "7");  // 0, 1, 2, 4, 5, 6, 8; the start 0 among them
    EXPECT_EQ(dec(sieve.candidates), "3");        // 3, 7, 9
}

TEST(Backends, EmptyRangeThroughThePoolLeavesTheHashEmpty) {
    const UnitResult r = run("record-recursive", UnitRange{U128{5, 0}, U128{5, 0}, false});
    EXPECT_TRUE(r.proof_hash.empty());
    EXPECT_EQ(r.begin, "5");
    EXPECT_EQ(r.end, "5");
    EXPECT_TRUE(r.checked.is_zero());
    const UnitResult scalar = run("scalar", UnitRange{U128{5, 0}, U128{5, 0}, false});
    EXPECT_EQ(scalar.backend, "scalar");
}

TEST(Backends, MoreThreadsThanChunks) {
    const UnitResult r = run("threaded", UnitRange{U128{100, 0}, U128{130, 0}, false}, 10, 8);
    const UnitResult one = run("threaded", UnitRange{U128{100, 0}, U128{130, 0}, false}, 30, 1);
    EXPECT_EQ(dec(r.checked), "30");
    EXPECT_EQ(r.steps, one.steps);
    EXPECT_EQ(r.checksum_sum, one.checksum_sum);
}

TEST(Backends, RangeErrorsPropagate) {
    EXPECT_THROW(run("record-recursive", UnitRange{U128{5, 0}, U128{4, 0}, false}), std::invalid_argument);
    EXPECT_THROW(run("scalar", UnitRange{U128{}, U128{}, true}), std::overflow_error);
    try {
        verify_chunk(UnitRange{U128{kMax - 1, kMax}, U128{}, true}, 0, 3, "scalar");
        FAIL();
    } catch (const std::overflow_error& e) {
        EXPECT_STREQ(e.what(), "work unit crosses 2^128");
    }
}

// Ranges that exercise the first block, block edges, 2^32, 2^64 and 2^128.
std::vector<UnitRange> differential_ranges() {
    return {
        UnitRange{U128{1, 0}, U128{70000, 0}, false},
        UnitRange{U128{65530, 0}, U128{65530 + 3000, 0}, false},
        UnitRange{U128{(1ull << 32) - 5000, 0}, U128{(1ull << 32) + 140000, 0}, false},
        UnitRange{U128{kMax - 20000, 0}, U128{30000, 1}, false},
        UnitRange{U128{kMax - 30000, kMax}, U128{}, true},
        UnitRange{U128{0x123456789abcdef1ull, 0x0fedcba987654321ull}, U128{0x123456789abcdef1ull + 20000, 0x0fedcba987654321ull}, false},
        // Either side of 2^116, where the table's folded first iterations stop being used.
        UnitRange{U128{kMax - 70000, (1ull << 52) - 1}, U128{70000, 1ull << 52}, false},
        UnitRange{U128{0x1234, 1ull << 20}, U128{0x1234 + 140000, 1ull << 20}, false},
        // Below 2^64, where the folded value itself passes 2^64.
        UnitRange{U128{kMax - 150000, 0}, U128{kMax - 10000, 0}, false},
        // Where campaigns work, and near the top, where jumps lose their headroom.
        UnitRange{U128{kMax - 2500, 127}, U128{2500, 128}, false},
        UnitRange{U128{kMax - 2500, (1ull << 60) - 1}, U128{2500, 1ull << 60}, false},
    };
}

TEST(Backends, FastLoopMatchesTheStartByStartReference) {
    auto ranges = differential_ranges();
    ranges.push_back(UnitRange{U128{0, 0}, U128{70000, 0}, false});  // stops at the start 0 unless sieved
    for (const auto& range : ranges) {
        const std::uint64_t n = unit_size(range);
        for (const char* name : {"scalar", "fused", "threaded", "ctz", "cpu-sieve", "record-recursive"}) {
            const UnitResult fast = verify_chunk(range, 0, n, name);
            const UnitResult ref = verify_chunk_reference(range, 0, n, name);
            SCOPED_TRACE(std::string(name) + " from " + fast.begin + " to " + fast.end);
            EXPECT_EQ(fast.checked, ref.checked);
            EXPECT_EQ(fast.candidates, ref.candidates);
            EXPECT_EQ(fast.proof_exclusions, ref.proof_exclusions);
            EXPECT_EQ(fast.steps, ref.steps);
            EXPECT_EQ(fast.overflow_starts, ref.overflow_starts);
            EXPECT_EQ(fast.u64_completions, ref.u64_completions);
            EXPECT_EQ(fast.u128_completions, ref.u128_completions);
            EXPECT_EQ(fast.bigint_completions, ref.bigint_completions);
            EXPECT_EQ(fast.checksum_sum, ref.checksum_sum);
            EXPECT_EQ(fast.checksum_xor, ref.checksum_xor);
            EXPECT_EQ(fast.valid, ref.valid);
            EXPECT_EQ(fast.message, ref.message);
            EXPECT_EQ(fast.end, ref.end);
        }
    }
}

// "record-recursive" start by start against its fast loop at the heights campaigns work at and
// on every edge of the fast loop's tables: 2^16 blocks (whole and cut), the 2^24 class table's
// slices, its limit at 2^111, the per-class limits of the 16-iteration fold (2^116 to 2^125),
// the jumps' headroom (values from 2^118 up) and the top, where walks leave 128 bits.
TEST(Backends, RecordRecursiveMatchesTheReferenceAtEveryHeight) {
    struct Case {
        U128 begin;
        std::uint64_t count;
    };
    const auto at = [](unsigned height, std::uint64_t below) {  // 2^height - below
        U128 p = height >= 64 ? U128{0, std::uint64_t{1} << (height - 64)} : U128{std::uint64_t{1} << height, 0};
        const std::uint64_t lo = p.lo - below;
        return U128{lo, p.hi - (lo > p.lo ? 1 : 0)};
    };
    const Case cases[] = {
        {at(32, 0), 70000},                       // the tuning range's start
        {at(54, 30000), 70000},                   // 64-bit jumps lose their headroom
        {at(68, 0), 140000},
        {at(71, 5), 70010},                       // cut blocks on both ends
        {at(72, 1 << 24), 140000},                // the last slice of the class table, then slice 0
        {at(75, 12345), 80000},
        {at(100, 65536), 131072},
        {at(111, 40000), 100000},                 // the class table's limit
        // Starts n = -1 (mod 2^24), then n = -1 (mod 2^16), just high enough that a 3x+1 inside
        // their first 24 (16) iterations passes 2^128: no fold may hold them.
        {U128{0xe000000000ffffffull - 35000, 0x24c2230d75ccfull}, 70000},
        {U128{0xffffull - 35000, 0x37b719b5b7c222ull}, 70000},
        {at(116, 40000), 100000},
        {at(120, 40000), 100000},
        {at(124, 40000), 100000},
        {at(125, 40000), 100000},                 // the last per-class fold limit
        {U128{~std::uint64_t{0} - 99999, ~std::uint64_t{0}}, 100000},  // up to 2^128
    };
    for (const Case& c : cases) {
        const UnitRange range{c.begin, add_u64(c.begin, c.count), c.begin.hi == ~std::uint64_t{0}};
        const UnitResult fast = verify_chunk(range, 0, c.count, "record-recursive");
        const UnitResult ref = verify_chunk_reference(range, 0, c.count, "record-recursive");
        EXPECT_EQ(result_json(fast), result_json(ref)) << "from " << fast.begin;
        EXPECT_FALSE(fast.candidates.is_zero()) << "from " << fast.begin;
    }
}

// Short cut ranges at random heights: a block's class windows then hold no open class, one, or
// a few, the cases where the walk of one class overlaps the fold of the next.
TEST(Backends, RecordRecursiveMatchesTheReferenceOnShortRandomRanges) {
    const std::uint64_t seed = std::random_device{}();
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 300; ++i) {
        const unsigned height = 17 + static_cast<unsigned>(rng() % 111);  // 2^17 .. 2^127
        const U128 top = height >= 64 ? U128{0, std::uint64_t{1} << (height - 64)} : U128{std::uint64_t{1} << height, 0};
        const U128 begin{top.hi != 0 ? rng() : rng() % top.lo, top.hi != 0 ? top.hi | (rng() % top.hi) : 0};
        const std::uint64_t count = 1 + rng() % (rng() % 2 != 0 ? 100 : 3000);
        const UnitRange range{begin, add_u64(begin, count), false};
        const UnitResult fast = verify_chunk(range, 0, count, "record-recursive");
        const UnitResult ref = verify_chunk_reference(range, 0, count, "record-recursive");
        ASSERT_EQ(result_json(fast), result_json(ref)) << "from " << fast.begin << " count " << count << " seed " << seed;
    }
}

// The sieve backends take a whole block's checksums in slices between its walks: with every
// slice kernel this processor runs, their records equal the start-by-start reference's (scalar
// checksum, plain walk) on two whole blocks with cut blocks either side, at the heights
// campaigns work at, on the tables' edges and up to 2^128, then on random ranges.
TEST(Backends, ChecksumSlicesBetweenWalksMatchTheReferenceOnEveryKernel) {
    std::vector<std::pair<const char*, PieceSliceKernel>> kernels{{"scalar", piece_slice_scalar()}};
    if (cpu_has_avx2()) kernels.emplace_back("avx2", piece_slice_avx2());
    if (cpu_has_avx512()) kernels.emplace_back("avx512", piece_slice_avx512());
    const auto below = [](unsigned height, std::uint64_t n) {  // 2^height - n
        const U128 p = height >= 64 ? U128{0, std::uint64_t{1} << (height - 64)} : U128{std::uint64_t{1} << height, 0};
        return U128{p.lo - n, p.hi - (p.lo < n ? 1 : 0)};
    };
    constexpr std::uint64_t kCount = 2 * 65536 + 10;
    std::vector<UnitRange> ranges;
    for (const unsigned height : {17u, 32u, 64u, 71u, 75u, 100u, 111u, 116u, 124u}) {
        const U128 begin = below(height, 65536 + 5);
        ranges.push_back(UnitRange{begin, add_u64(begin, kCount), false});
    }
    ranges.push_back(UnitRange{U128{0 - kCount, ~std::uint64_t{0}}, U128{}, true});
    const std::uint64_t seed = std::random_device{}();
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 6; ++i) {
        const unsigned height = 20 + static_cast<unsigned>(rng() % 108);  // 2^20 .. 2^127: above 3 * 65536
        const U128 begin = below(height, rng() % (3 * 65536));
        ranges.push_back(UnitRange{begin, add_u64(begin, 65536 + rng() % (2 * 65536)), false});
    }
    for (const UnitRange& range : ranges) {
        const std::uint64_t n = unit_size(range);
        for (const char* name : {"record-recursive", "cpu-sieve", "hybrid-experimental"}) {
            const std::string ref = result_json(verify_chunk_reference(range, 0, n, name));
            for (const auto& [kernel, slices] : kernels) {
                const UnitResult fast = detail::verify_chunk_with(range, 0, n, name, slices);
                ASSERT_EQ(result_json(fast), ref) << name << " " << kernel << " from " << fast.begin << " to " << fast.end
                                                  << " (random ranges: seed " << seed << ")";
            }
        }
    }
}

TEST(Backends, EveryBackendAgreesWithScalar) {
    for (const auto& range : differential_ranges()) {
        const UnitResult scalar = run("scalar", range, 5000);
        for (const char* name : kAllBackends) {
            const UnitResult r = run(name, range, 5000);
            SCOPED_TRACE(std::string(name) + " from " + r.begin + " to " + r.end);
            EXPECT_EQ(r.checked, scalar.checked);
            EXPECT_EQ(r.checksum_sum, scalar.checksum_sum);
            EXPECT_EQ(r.checksum_xor, scalar.checksum_xor);
            EXPECT_EQ(r.begin, scalar.begin);
            EXPECT_EQ(r.end, scalar.end);
            EXPECT_EQ(r.candidates, r.survivors_evaluated);
            BigUint accounted = r.candidates;
            accounted += r.proof_exclusions;
            if (std::string(name) != "avx2-experimental" && r.valid) {
                EXPECT_EQ(accounted, r.checked);
            }
        }
        // Pairs whose counters must agree in full.
        const UnitResult fused = run("fused", range);
        EXPECT_EQ(fused.steps, scalar.steps);
        EXPECT_EQ(fused.u64_completions, scalar.u64_completions);
        EXPECT_EQ(fused.u128_completions, scalar.u128_completions);
        const UnitResult threaded = run("threaded", range), ctz = run("ctz", range);
        EXPECT_EQ(threaded.steps, ctz.steps);
        EXPECT_EQ(threaded.u64_completions, scalar.u64_completions);
        EXPECT_EQ(threaded.u128_completions, scalar.u128_completions);
        const UnitResult sieve = run("cpu-sieve", range), hybrid = run("hybrid-experimental", range);
        EXPECT_EQ(sieve.steps, hybrid.steps);
        EXPECT_EQ(sieve.candidates, hybrid.candidates);
    }
}

TEST(Backends, CompletionClassFollowsTheStartWidth) {
    const UnitResult r = run("threaded", UnitRange{U128{kMax - 99, 0}, U128{100, 1}, false}, 64);
    EXPECT_EQ(dec(r.u64_completions), "100");
    EXPECT_EQ(dec(r.u128_completions), "100");
    // Odd starts at the very top climb past 2^128 at once: U256 stage, still u128 completions.
    const UnitResult top = run("scalar", UnitRange{U128{kMax - 9, kMax}, U128{}, true});
    EXPECT_EQ(dec(top.u128_completions), "10");
    EXPECT_TRUE(top.u256_completions.is_zero());
    EXPECT_TRUE(top.overflow_starts.is_zero());
    EXPECT_EQ(top.end, "340282366920938463463374607431768211456");
}

}  // namespace
}  // namespace pelorin
