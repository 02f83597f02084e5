#include <gtest/gtest.h>

#include <random>

#include "engine/check_start.hpp"
#include "engine/mix64.hpp"
#include "engine/walk_u64.hpp"
#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

struct StepCase {
    std::uint64_t start;
    std::uint64_t plain;
    std::uint64_t shortcut;
};

TEST(CheckStart, KnownStepCounts) {
    const StepCase cases[] = {{2, 1, 1}, {3, 6, 7}, {27, 96, 0}};
    for (const auto& c : cases) {
        std::uint64_t steps = 0;
        bool esc = false;
        ASSERT_TRUE(check_start(U128{c.start, 0}, false, steps, esc));
        EXPECT_EQ(steps, c.plain) << c.start;
        steps = 0;
        ASSERT_TRUE(check_start_fused(U128{c.start, 0}, steps, esc));
        EXPECT_EQ(steps, c.plain) << "fused " << c.start;
        if (c.shortcut != 0) {
            steps = 0;
            ASSERT_TRUE(check_start(U128{c.start, 0}, true, steps, esc));
            EXPECT_EQ(steps, c.shortcut) << "shortcut " << c.start;
        }
        EXPECT_FALSE(esc);
    }
    std::uint64_t steps = 0;
    bool esc = false;
    EXPECT_FALSE(check_start(U128{}, true, steps, esc));
    EXPECT_TRUE(check_start(U128{1, 0}, false, steps, esc));
    EXPECT_EQ(steps, 0u);
}

TEST(Checksum, KnownValues) {
    EXPECT_EQ(start_checksum(U128{}), 0u);
    EXPECT_EQ(start_checksum(U128{1, 0}), 0x5692161d100b05e5ull);
    EXPECT_EQ(start_checksum(U128{5, 3}), mix64(mix64(3) ^ 5));
}

// An independent walk in BigUint: each application of the map is one step. The shortcut
// (a run of halvings compared only at its end) holds while the walk stays below 2^128; from
// the first 3n+1 that reaches 2^128 on, every step is compared singly.
std::uint64_t reference_steps(U128 s, bool shortcut) {
    BigUint n = BigUint::from_limbs({s.lo, s.hi});
    std::uint64_t steps = 0;
    bool wide = false;
    for (;;) {
        if (!n.is_even()) {
            n.three_n_plus_one();
            ++steps;
            wide = wide || n.limbs().size() > 2;
            if (!(shortcut && !wide) && n.less_than(s)) return steps;
        }
        if (shortcut && !wide) {
            while (n.is_even()) {
                n.halve();
                ++steps;
            }
            if (n.less_than(s)) return steps;
        } else if (n.is_even()) {
            n.halve();
            ++steps;
            if (n.less_than(s)) return steps;
        }
    }
}

TEST(CheckStart, AgreesWithBigUintWalkAcrossWidths) {
    const std::uint64_t seed = 20261210;
    std::mt19937_64 rng(seed);
    const std::uint64_t kMax = ~std::uint64_t{0};
    std::vector<U128> starts = {
        {kMax, kMax}, {kMax - 2, kMax}, {kMax, 0}, {0x5555555555555555ull, 0}, {0x5555555555555557ull, 0},
        {1, 1}, {3, 0x5555555555555555ull}, {kMax, 0x5555555555555554ull}};
    for (int i = 0; i < 40; ++i) {
        starts.push_back(U128{rng() | 1, 0});
        starts.push_back(U128{rng() | 1, rng()});
        starts.push_back(U128{rng() | 1, rng() >> 1 | (std::uint64_t{1} << 62)});  // climbs past 2^128 often
    }
    for (const U128 s : starts) {
        for (bool shortcut : {false, true}) {
            std::uint64_t steps = 0;
            bool esc = false;
            ASSERT_TRUE(check_start(s, shortcut, steps, esc));
            EXPECT_EQ(steps, reference_steps(s, shortcut))
                << "start " << u128_to_decimal(s) << " shortcut " << shortcut << " seed " << seed;
        }
        std::uint64_t fused = 0;
        bool esc = false;
        ASSERT_TRUE(check_start_fused(s, fused, esc));
        EXPECT_EQ(fused, reference_steps(s, false)) << "fused start " << u128_to_decimal(s);
    }
}

TEST(Walk64, MatchesCheckStartIncludingHandOverPast64Bits) {
    const std::uint64_t seed = 7;
    std::mt19937_64 rng(seed);
    std::vector<std::uint64_t> starts = {2, 3, 27, 0x5555555555555555ull, ~std::uint64_t{0}, (std::uint64_t{1} << 63) + 1};
    for (int i = 0; i < 2000; ++i) starts.push_back(rng() >> (rng() % 64) | 2);
    for (const std::uint64_t s : starts) {
        for (bool shortcut : {false, true}) {
            std::uint64_t want = 0, got = 0;
            bool e1 = false, e2 = false;
            check_start(U128{s, 0}, shortcut, want, e1);
            if (shortcut) walk_shortcut_u64(s, got, e2);
            else walk_plain_u64(s, got, e2);
            ASSERT_EQ(got, want) << "start " << s << " shortcut " << shortcut << " seed " << seed;
        }
    }
}

#if defined(__SIZEOF_INT128__)
// The walk's own 128-bit halvings against U128 arithmetic, on the limbs' edges: a low limb of
// 0, and shifts by 1 and by 63 that move bits from the high limb into the low one.
TEST(Walk128, HalvingsByLimbsMatchU128Arithmetic) {
    const U128 values[] = {{2, 0},         {0, 1},       {0, 3ull << 20}, {0, 1ull << 63}, {1ull << 63, 5},
                           {2, 0x0fffffffffffffffull}, {6, 9}, {0x8000000000000002ull, 1}, {~0ull << 1, ~0ull}};
    for (const U128 v : values) {
        native_u128 x = to_native(v);
        EXPECT_EQ(strip_twos(x), trailing_zeros(v)) << "x " << u128_to_decimal(v);
        EXPECT_EQ(from_native(x), shift_right(v, trailing_zeros(v))) << "x " << u128_to_decimal(v);
    }
}
#endif

}  // namespace
}  // namespace pelorin
