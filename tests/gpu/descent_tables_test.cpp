#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/proof_table.hpp"
#include "gpu/descent_tables.hpp"
#include "gpu/gpu_constants.hpp"
#include "gpu/host_grid.hpp"

namespace pelorin {
namespace {

void expect_common_entries(const std::vector<std::uint64_t>& t, unsigned k) {
    ASSERT_EQ(t.size(), std::size_t{1} << k);
    EXPECT_EQ(t[1], 1u) << "k " << k;
    EXPECT_EQ(t[3], k >= 4 ? 0u : kNoDescent) << "k " << k;
    for (std::size_t r = 0; r < t.size(); r += 2) ASSERT_EQ(t[r], 0u) << "even residue " << r << " k " << k;
}

TEST(DescentTables, SmallWidthsAndTheProofTable) {
    // Residue 3 descends after 4 steps: open below k = 4, threshold 0 from there on.
    for (unsigned k : {2u, 3u, 4u, 5u}) expect_common_entries(build_descent_table(k), k);

    const HostDescentTables& t12 = host_descent_tables(12);
    expect_common_entries(t12.table, 12);
    EXPECT_EQ(t12.survivors.size(), 226u);
    ASSERT_GE(t12.survivors.size(), 4u);
    EXPECT_EQ((std::vector<std::uint64_t>(t12.survivors.begin(), t12.survivors.begin() + 4)),
              (std::vector<std::uint64_t>{27, 31, 47, 63}));
    EXPECT_EQ(t12.max_threshold, 24u);

    // Width 16 is the CPU's proof table, entry for entry and by hash.
    const HostDescentTables& t16 = host_descent_tables(16);
    expect_common_entries(t16.table, 16);
    EXPECT_EQ(t16.survivors.size(), 2114u);
    EXPECT_EQ(t16.max_threshold, 24u);
    const auto cpu = proof_table();
    EXPECT_TRUE(std::equal(cpu.begin(), cpu.end(), t16.table.begin(), t16.table.end()));
    EXPECT_EQ(t16.proof_hash, proof_table_hash());

    const RecursiveTables view = t16.view();
    EXPECT_EQ(view.table, t16.table.data());
    EXPECT_EQ(view.survivors, t16.survivors.data());
    EXPECT_EQ(view.survivor_count, 2114u);
    EXPECT_EQ(view.proof_hash, proof_table_hash());
    EXPECT_THROW(build_descent_table(25), std::invalid_argument);
}

TEST(DescentTables, Width24) {
    const HostDescentTables& t = host_descent_tables(24);
    expect_common_entries(t.table, 24);
    EXPECT_EQ(t.survivors.size(), 286581u);
    EXPECT_EQ(t.max_threshold, 24u);
    EXPECT_EQ(t.proof_hash.size(), 64u);
    EXPECT_NE(t.proof_hash, host_descent_tables(16).proof_hash);
    // The engine's own threshold rule (64-bit walk) gives every entry, and the survivor list
    // is exactly the open residues in ascending order.
    std::uint64_t next = 0;
    for (std::uint64_t r = 1; r < t.table.size(); r += 2) {
        ASSERT_EQ(t.table[r], descent_threshold(r, 24)) << "residue " << r;
        if (t.table[r] == kNoDescent) {
            ASSERT_LT(next, t.survivors.size());
            ASSERT_EQ(t.survivors[next++], r);
        }
    }
    EXPECT_EQ(next, t.survivors.size());
}

}  // namespace
}  // namespace pelorin
