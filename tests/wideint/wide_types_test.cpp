#include <gtest/gtest.h>

#include <stdexcept>

#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"
#include "wideint/u128.hpp"
#include "wideint/u256.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

TEST(U128, AddU64CarriesAndFlagsOverflow) {
    bool over = false;
    EXPECT_EQ(add_u64(U128{kMax, 0}, 1, &over), (U128{0, 1}));
    EXPECT_FALSE(over);
    add_u64(U128{kMax, kMax}, 1, &over);
    EXPECT_TRUE(over);
}

TEST(U128, FitTestIsExactAtTheBound) {
    // Largest n with 3n+1 < 2^128 is floor((2^128 - 2) / 3) = 0x5555...5554 (128 bits).
    const U128 largest{0x5555555555555554ull, 0x5555555555555555ull};
    U128 n = largest;
    ASSERT_TRUE(three_n_plus_one_fits(n));
    EXPECT_EQ(n, (U128{kMax - 2, kMax}));  // 3n+1 = 2^128 - 3
    U128 next = add_u64(largest, 1);
    EXPECT_FALSE(three_n_plus_one_fits(next));
    EXPECT_EQ(next, add_u64(largest, 1));  // unchanged on failure
    // The low-limb +1 carry path: lo = 0x5555...5555 makes 3*lo all ones.
    U128 carry{0x5555555555555555ull, 0};
    ASSERT_TRUE(three_n_plus_one_fits(carry));
    EXPECT_EQ(carry, (U128{0, 1}));
}

TEST(U128, ShiftsAndTrailingZeros) {
    EXPECT_EQ(shift_right(U128{0, 1}, 64), (U128{1, 0}));
    EXPECT_EQ(shift_right(U128{0, 0x8}, 67), (U128{1, 0}));
    EXPECT_EQ(shift_right(U128{0x10, 0x1}, 4), (U128{0x1000000000000001ull, 0}));
    EXPECT_EQ(trailing_zeros(U128{0, 0}), 128u);
    EXPECT_EQ(trailing_zeros(U128{0, 4}), 66u);
    EXPECT_EQ(trailing_zeros(U128{8, 4}), 3u);
}

TEST(U256, ThreeNPlusOneCarriesAcrossLimbsAndReportsOverflow) {
    U256 w = U256::from(U128{kMax, kMax});
    ASSERT_TRUE(three_n_plus_one(w));  // 3(2^128 - 1) + 1 = 2^129 + 2^128 - 2
    EXPECT_EQ(w.limb[0], kMax - 1);
    EXPECT_EQ(w.limb[1], kMax);
    EXPECT_EQ(w.limb[2], 2u);
    U256 top;
    top.limb[3] = std::uint64_t{1} << 63;
    EXPECT_FALSE(three_n_plus_one(top));
    EXPECT_FALSE(less_than(w, U128{kMax, kMax}));
    halve(w);
    EXPECT_EQ(w.limb[2], 1u);
}

TEST(BigUint, ArithmeticKeepsNormalForm) {
    BigUint zero;
    zero.three_n_plus_one();
    EXPECT_EQ(zero.limbs(), (std::vector<std::uint64_t>{1}));
    BigUint top(kMax);
    top.three_n_plus_one();
    EXPECT_EQ(top.limbs(), (std::vector<std::uint64_t>{kMax - 1, 2}));
    BigUint one(1);
    one.halve();
    EXPECT_TRUE(one.is_zero());
    BigUint sum(kMax);
    sum.add_u64(1);
    EXPECT_EQ(sum.limbs(), (std::vector<std::uint64_t>{0, 1}));
    sum += BigUint::from_limbs({kMax, kMax});
    EXPECT_EQ(sum.limbs(), (std::vector<std::uint64_t>{kMax, 0, 1}));
    EXPECT_FALSE(sum.less_than(U128{kMax, kMax}));  // three limbs: always greater
    EXPECT_EQ(BigUint::from_limbs({0, 0}).limbs().size(), 0u);
    EXPECT_DOUBLE_EQ(BigUint::from_limbs({0, 1}).to_double(), 18446744073709551616.0);
}

TEST(Decimal, OutputOfEveryWidth) {
    EXPECT_EQ(u128_to_decimal(U128{}), "0");
    EXPECT_EQ(u128_to_decimal(U128{kMax, kMax}), "340282366920938463463374607431768211455");
    EXPECT_EQ(u128_to_decimal(U128{10000000000000000000ull, 0}), "10000000000000000000");
    EXPECT_EQ(u128_to_decimal(U128{0, 1}), "18446744073709551616");
    EXPECT_EQ(end_to_decimal(U128{}, true), "340282366920938463463374607431768211456");
    EXPECT_EQ(biguint_to_decimal(BigUint{}), "0");
    EXPECT_EQ(biguint_to_decimal(BigUint::from_limbs({0, 0, 1})), "340282366920938463463374607431768211456");
    EXPECT_EQ(biguint_to_decimal(BigUint(1000000000)), "1000000000");
}

TEST(UnitRange, SizeAndItsErrors) {
    const U128 top{kMax, kMax};
    EXPECT_EQ(unit_size(UnitRange{U128{5, 0}, U128{5, 0}, false}), 0u);
    EXPECT_EQ(unit_size(UnitRange{top, U128{}, true}), 1u);
    EXPECT_EQ(unit_size(UnitRange{U128{kMax - 4, kMax}, U128{}, true}), 5u);
    EXPECT_EQ(unit_size(UnitRange{U128{}, U128{kMax, 0}, false}), kMax);
    EXPECT_EQ(unit_size(UnitRange{U128{1, 0}, U128{0, 1}, false}), kMax);
    EXPECT_THROW(unit_size(UnitRange{U128{}, U128{}, true}), std::overflow_error);
    EXPECT_THROW(unit_size(UnitRange{U128{}, U128{0, 1}, false}), std::overflow_error);
    EXPECT_THROW(unit_size(UnitRange{U128{1, 0}, U128{0, 0}, true}), std::overflow_error);
    try {
        unit_size(UnitRange{U128{2, 0}, U128{1, 0}, false});
        FAIL() << "reversed range accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "range end is below begin");
    }
    try {
        unit_size(UnitRange{U128{}, U128{}, true});
    } catch (const std::overflow_error& e) {
        EXPECT_STREQ(e.what(), "single work unit is larger than uint64");
    }
}

TEST(UnitRange, SubRangeSplitsAcrossTheLimbAndKeepsTheEndAt2To128) {
    struct Case {
        UnitRange range;
        std::uint64_t offset, count;
        UnitRange piece;
    };
    const Case cases[] = {
        {{U128{10, 0}, U128{20, 0}, false}, 0, 4, {U128{10, 0}, U128{14, 0}, false}},
        {{U128{kMax - 1, 0}, U128{5, 1}, false}, 1, 3, {U128{kMax, 0}, U128{2, 1}, false}},
        {{U128{kMax - 9, kMax}, U128{}, true}, 4, 6, {U128{kMax - 5, kMax}, U128{}, true}},
        {{U128{kMax - 9, kMax}, U128{}, true}, 4, 5, {U128{kMax - 5, kMax}, U128{kMax, kMax}, false}},
    };
    for (const Case& c : cases) {
        const UnitRange piece = sub_range(c.range, c.offset, c.count);
        SCOPED_TRACE("begin " + u128_to_decimal(c.range.begin) + " offset " + std::to_string(c.offset) + " count " +
                     std::to_string(c.count));
        EXPECT_EQ(piece.begin, c.piece.begin);
        EXPECT_EQ(piece.end, c.piece.end);
        EXPECT_EQ(piece.end_is_2_128, c.piece.end_is_2_128);
        EXPECT_EQ(unit_size(piece), c.count);
    }
}

}  // namespace
}  // namespace pelorin
