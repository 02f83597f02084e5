#include <gtest/gtest.h>

#include <algorithm>

#include "engine/proof_table.hpp"
#include "engine/survivor_lists.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

TEST(ProofTable, CheckValuesAndHash) {
    const auto t = proof_table();
    ASSERT_EQ(t.size(), 65536u);
    EXPECT_EQ(t[0], 0u);
    EXPECT_EQ(t[1], 1u);
    EXPECT_EQ(t[3], 0u);
    EXPECT_EQ(t[5], 1u);
    EXPECT_EQ(t[7], 1u);
    EXPECT_EQ(t[27], kOpenResidue);
    std::uint64_t largest = 0, open = 0;
    for (std::uint64_t r = 1; r < t.size(); r += 2) {
        if (t[r] == kOpenResidue) ++open;
        else largest = std::max(largest, t[r]);
    }
    EXPECT_EQ(largest, 24u);
    EXPECT_EQ(open, 2114u);
    EXPECT_EQ(proof_table_hash(), "c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9");
}

TEST(Sieve, ExclusionCases) {
    struct Case {
        U128 s;
        bool without_table;
        bool with_table;
    };
    const Case cases[] = {
        {{0, 0}, true, true},       {{2, 0}, true, true},     {{11, 0}, true, true},
        {{13, 0}, true, true},      {{7, 0}, false, true},    {{27, 0}, false, false},
        {{131073, 0}, false, true}, {{1, 0}, false, false},   // t(1) = 1 is not below 1
        {{3, 1}, false, true},      // 2^64 + 3: mod 9 = 1, residue 3 has a finite entry
        {{27, 1}, false, false},    // 2^64 + 27: mod 9 = 7, residue 27 is open
        {{13, 1}, true, true},      // 2^64 + 13: mod 9 = 2
    };
    for (const auto& c : cases) {
        EXPECT_EQ(excluded(c.s, false), c.without_table) << c.s.hi << ":" << c.s.lo;
        EXPECT_EQ(excluded(c.s, true), c.with_table) << c.s.hi << ":" << c.s.lo;
    }
}

TEST(Sieve, Mod9FromLimbs) {
    // Reference: a number and the sum of its decimal digits leave the same remainder mod 9.
    for (std::uint64_t hi : {0ull, 1ull, 2ull, 12345678901234ull, ~0ull})
        for (std::uint64_t lo : {0ull, 1ull, 8ull, 1000000007ull, ~0ull}) {
            unsigned digit_sum = 0;
            for (char d : u128_to_decimal(U128{lo, hi})) digit_sum += static_cast<unsigned>(d - '0');
            EXPECT_EQ(mod9(U128{lo, hi}), digit_sum % 9) << hi << ":" << lo;
        }
}

TEST(Sieve, SurvivorListsAreExactlyTheUnexcludedResidues) {
    for (bool table : {false, true})
        for (std::uint64_t block : {1ull, 2ull, 3ull, 1000ull, 0x123456789ull}) {
            const std::uint64_t base = block << 16;
            const auto list = survivors(table, mod9(U128{base, 0}));
            std::vector<std::uint16_t> want;
            for (std::uint32_t r = 0; r < 65536; ++r)
                if (!excluded(U128{base + r, 0}, table)) want.push_back(static_cast<std::uint16_t>(r));
            EXPECT_TRUE(std::equal(list.begin(), list.end(), want.begin(), want.end()))
                << "block " << block << " table " << table;
        }
}

}  // namespace
}  // namespace pelorin
