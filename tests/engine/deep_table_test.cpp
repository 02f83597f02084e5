#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/deep_table.hpp"
#include "engine/jump_table.hpp"
#include "engine/proof_table.hpp"
#include "sha256/sha256.hpp"

namespace pelorin {
namespace {

// The class of r (mod 2^24) straight from the map: after i iterations with k odd ones every
// n = r (mod 2^24) is (3^k n + c) / 2^i, below n (for n >= 2^16) from the first i with
// 2^i > 3^k; the shortcut walk then stops at the next odd value.
struct Expected {
    DeepKind kind;
    unsigned k;
    std::uint64_t value;
};

Expected classify_directly(std::uint64_t r) {
    std::uint64_t x = r, p3 = 1;
    unsigned k = 0;
    for (unsigned i = 1; i <= 24; ++i) {
        if (x & 1) {
            x = (3 * x + 1) / 2;
            p3 *= 3;
            ++k;
        } else {
            x /= 2;
        }
        if ((std::uint64_t{1} << i) > p3) {
            while (i < 24 && x % 2 == 0) {
                x /= 2;
                ++i;
            }
            if (i < 24) return {DeepKind::fixed, k, i + k};
            return {DeepKind::ctz, k, x};
        }
    }
    return {DeepKind::open, k, x};
}

TEST(ClassTable, KindsCountsAndHash) {
    std::uint64_t count[3] = {};
    for (unsigned e = 0; e < kDeepSlices; ++e)
        for (const DeepClass c : deep_slice(e).classes) ++count[static_cast<unsigned>(c.kind())];
    EXPECT_EQ(count[0], 174275u);  // fixed
    EXPECT_EQ(count[1], 80328u);   // ctz
    EXPECT_EQ(count[2], 286581u);  // open: the survivors of a 2^24 descent table
    EXPECT_EQ(deep_table_hash(), "d2545c8aad04086b077f242580a58a47d3e88a9b09eb950717c48b0a8287f1cc");
}

TEST(ClassTable, EverySpanHoldsItsClassesAsTheMapGivesThem) {
    for (unsigned e = 0; e < kDeepSlices; ++e) {
        const DeepSlice& slice = deep_slice(e);
        std::size_t held = 0;
        for (unsigned kind = 0; kind < kDeepKinds; ++kind)
            for (unsigned v = 0; v < 9; ++v) {
                std::uint64_t previous = 0, steps = 0;
                const auto span = slice.span(static_cast<DeepKind>(kind), v);
                for (const DeepClass c : span) {
                    const std::uint64_t r = std::uint64_t{e} << 16 | c.residue();
                    const Expected want = classify_directly(r);
                    ASSERT_EQ(static_cast<unsigned>(c.kind()), kind) << "r " << r;
                    ASSERT_EQ(static_cast<unsigned>(want.kind), kind) << "r " << r;
                    ASSERT_EQ(c.k(), want.k) << "r " << r;
                    ASSERT_EQ(c.value(), want.value) << "r " << r;
                    ASSERT_EQ(c.residue() % 9, v) << "r " << r;
                    ASSERT_EQ(proof_table()[c.residue()], kOpenResidue) << "r " << r;
                    ASSERT_TRUE(previous == 0 || c.residue() > previous) << "r " << r;
                    previous = c.residue();
                    steps += c.value();
                }
                held += span.size();
                if (kind == static_cast<unsigned>(DeepKind::fixed)) {
                    EXPECT_EQ(slice.fixed_totals[v].count, span.size()) << "slice " << e << " v " << v;
                    EXPECT_EQ(slice.fixed_totals[v].steps, steps) << "slice " << e << " v " << v;
                }
            }
        ASSERT_EQ(held, kDeepSliceClasses) << "slice " << e;
    }
}

TEST(JumpTable, MatchesTheMapAndHash) {
    std::string bytes;
    const std::uint64_t seed = 12;
    std::mt19937_64 rng(seed);
    for (std::uint64_t l = 0; l < kJumpSize; ++l) {
        const Jump& j = kJumps[l];
        for (const std::uint64_t v : {std::uint64_t{j.mul}, std::uint64_t{j.add}, std::uint64_t{j.margin}, std::uint64_t{j.steps}})
            for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>(v >> (8 * b)));
        // An x with these low bits: the jump's value and steps, and no value below x / 2^margin.
        const std::uint64_t x = (rng() >> 24) << kJumpBits | l;
        std::uint64_t y = x, steps = 0, lowest = x;
        for (unsigned i = 0; i < kJumpBits; ++i) {
            steps += (y & 1) ? 2 : 1;
            y = (y & 1) ? (3 * y + 1) / 2 : y / 2;
            lowest = std::min(lowest, y);
        }
        ASSERT_EQ((x >> kJumpBits) * j.mul + j.add, y) << "x " << x << " seed " << seed;
        ASSERT_EQ(j.steps, steps) << "x " << x;
        ASSERT_GE(lowest << j.margin, x) << "x " << x;
    }
    // Each field as 4 bytes little-endian, entry after entry.
    EXPECT_EQ(sha256_hex(bytes), "a9f83aceb1948c07114b59e16fd2d94c3086783f9426f0f203c26bae9f70c0d3");
}

}  // namespace
}  // namespace pelorin
