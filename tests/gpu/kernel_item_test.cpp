#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/check_start.hpp"
#include "engine/proof_table.hpp"
#include "gpu/cuda_backend.hpp"
#include "gpu/kernel_item.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

std::string text(U128 v) { return u128_to_decimal(v); }

TEST(KernelWalk, StepCountsOfBothWalks) {
    struct Case {
        std::uint64_t start, fast, plain;
    };
    // The fast walk strips a whole run of zeros before comparing, so it can count more.
    const Case cases[] = {{2, 1, 1}, {3, 7, 6}, {4, 2, 1}, {5, 5, 3}, {27, 96, 96}};
    for (const auto& c : cases)
        for (bool fast : {true, false}) {
            std::uint64_t steps = 0, odd = 0;
            U128 out{};
            ASSERT_TRUE(verify_device(U128{c.start, 0}, fast, steps, odd, out)) << c.start;
            EXPECT_EQ(steps, fast ? c.fast : c.plain) << "start " << c.start << " fast " << fast;
        }
    for (std::uint64_t s : {0ull, 1ull}) {
        std::uint64_t steps = 0, odd = 0;
        U128 out{};
        EXPECT_TRUE(verify_device(U128{s, 0}, true, steps, odd, out));
        EXPECT_EQ(steps, 0u);
    }
}

// Every walk, finished on the host where it overflowed, counts exactly what the CPU's
// per-start check counts: the fast walk as check_start with the shortcut, the plain one without.
TEST(KernelWalk, AgreesWithCheckStartIncludingOverflowFinish) {
    const std::uint64_t seed = 612;
    std::mt19937_64 rng(seed);
    std::vector<U128> starts = {{kMax, kMax},         {kMax - 4, kMax},     {0x5555555555555557ull, 0x5555555555555555ull},
                                {kMax, 0x5555555555555554ull}, {27, 0},     {kMax, 0},
                                {3, 1},               {0xAAAAAAAAAAAAAAABull, 0xAAAAAAAAAAAAAAAAull}};
    for (int i = 0; i < 60; ++i) {
        starts.push_back(U128{rng() | 1, rng() >> (rng() % 64)});
        starts.push_back(U128{rng() | 1, rng() | (std::uint64_t{1} << 63)});  // often passes 2^128
    }
    int overflowed = 0;
    for (const U128 s : starts)
        for (bool fast : {true, false}) {
            std::uint64_t want = 0;
            bool escalated = false;
            ASSERT_TRUE(check_start(s, fast, want, escalated));
            std::uint64_t steps = 0, odd = 0;
            U128 x{};
            if (verify_device(s, fast, steps, odd, x)) {
                EXPECT_EQ(steps, want) << "start " << text(s) << " fast " << fast << " seed " << seed;
                continue;
            }
            ++overflowed;
            ASSERT_TRUE(is_odd(x)) << text(s);
            U128 probe = x;
            ASSERT_FALSE(three_n_plus_one_fits(probe)) << "queued value " << text(x) << " still fits";
            EXPECT_GE(odd, 1u);
            const OverflowFinish f = finish_overflowed_start(OverflowState{s, x, steps, odd});
            EXPECT_EQ(f.steps, want) << "start " << text(s) << " fast " << fast << " seed " << seed;
            EXPECT_EQ(f.wide, escalated) << text(s);
        }
    EXPECT_GT(overflowed, 20) << "too few starts left 128 bits to test the finish";
}

TEST(KernelWalk, FinishOfTheTopStart) {
    // 2^128 - 1 is odd and its first 3x+1 already leaves 128 bits.
    std::uint64_t steps = 0, odd = 0;
    U128 x{};
    ASSERT_FALSE(verify_device(U128{kMax, kMax}, true, steps, odd, x));
    EXPECT_EQ(steps, 0u);
    EXPECT_EQ(odd, 1u);
    EXPECT_EQ(x, (U128{kMax, kMax}));
    std::uint64_t want = 0;
    bool escalated = false;
    ASSERT_TRUE(check_start(U128{kMax, kMax}, false, want, escalated));
    const OverflowFinish f = finish_overflowed_start(OverflowState{{kMax, kMax}, {kMax, kMax}, 0, 1});
    EXPECT_EQ(f.steps, want);
    EXPECT_FALSE(f.wide);
}

TEST(KernelSieve, AgreesWithTheCpuPredicate) {
    const std::uint64_t seed = 99;
    std::mt19937_64 rng(seed);
    const std::uint64_t* table = proof_table().data();
    std::vector<U128> values = {{0, 0}, {1, 0}, {7, 0}, {11, 0}, {13, 0}, {24, 0}, {25, 0}, {27, 0},
                                {131073, 0}, {3, 1}, {13, 1}, {27, 1}, {1, 2}, {kMax, kMax}, {kMax - 1, kMax}};
    for (std::uint64_t v = 0; v < 4096; ++v) values.push_back(U128{v, 0});
    for (int i = 0; i < 4000; ++i) values.push_back(U128{rng(), i % 2 == 0 ? 0 : rng()});
    for (int i = 0; i < 1000; ++i) values.push_back(U128{rng() % 32, rng() | 1});  // at or below thresholds
    for (const U128 n : values) {
        if (n == U128{1, 0}) continue;  // 1 ends every item before the sieve
        EXPECT_EQ(!is_odd(n) || mod9_sieved(n), excluded(n, false)) << text(n) << " seed " << seed;
        EXPECT_EQ(recursive_sieved(n, table, 16), excluded(n, true)) << text(n) << " seed " << seed;
    }
}

TEST(KernelHelpers, WideOffsetsAndRangeMembership) {
    EXPECT_EQ(block_offset(5, 0), (U128{5, 0}));
    EXPECT_EQ(block_offset(3, 24), (U128{3ull << 24, 0}));
    EXPECT_EQ(block_offset(kMax, 24), (U128{kMax << 24, kMax >> 40}));
    EXPECT_EQ(add_wide(U128{kMax, 0}, U128{1, 0}), (U128{0, 1}));
    EXPECT_EQ(add_wide(U128{kMax, kMax}, U128{1, 0}), (U128{0, 0}));  // wraps modulo 2^128
    EXPECT_EQ(add_offset(U128{kMax - 1, 7}, 3), (U128{1, 8}));

    struct Case {
        U128 n, begin;
        std::uint64_t count;
        bool inside;
    };
    const Case cases[] = {
        {{10, 0}, {10, 0}, 1, true},          {{11, 0}, {10, 0}, 1, false},
        {{9, 0}, {10, 0}, 100, false},        {{10, 0}, {10, 0}, 0, false},
        {{kMax, 0}, {0, 0}, kMax, false},     {{kMax - 1, 0}, {0, 0}, kMax, true},
        {{4, 1}, {kMax - 5, 0}, 11, true},    {{5, 1}, {kMax - 5, 0}, 11, false},
        {{kMax, kMax}, {0, kMax}, kMax, false}, {{kMax - 1, kMax}, {0, kMax}, kMax, true},
        {{0, 2}, {0, 1}, kMax, false},        // 2^64 past begin never fits a 64-bit count
    };
    for (const auto& c : cases)
        EXPECT_EQ(offset_inside(c.n, c.begin, c.count), c.inside)
            << text(c.n) << " in [" << text(c.begin) << ", +" << c.count << ")";
}

TEST(KernelHelpers, GridStrideIndexNeverWraps) {
    struct Case {
        std::uint64_t i, stride, total;
        bool more;
        std::uint64_t next;
    };
    const Case cases[] = {
        {0, 4, 10, true, 4},          {4, 4, 10, true, 8},        {8, 4, 10, false, 8},
        {5, 5, 10, false, 5},         {kMax - 1, 4, kMax, false, kMax - 1},
        {kMax - 10, 8, kMax, true, kMax - 2}, {kMax - 2, kMax, kMax, false, kMax - 2},
    };
    for (const auto& c : cases) {
        std::uint64_t i = c.i;
        EXPECT_EQ(next_index(i, c.stride, c.total), c.more) << c.i << " + " << c.stride << " / " << c.total;
        EXPECT_EQ(i, c.next) << c.i << " + " << c.stride << " / " << c.total;
    }
}

}  // namespace
}  // namespace pelorin
