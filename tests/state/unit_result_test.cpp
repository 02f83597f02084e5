#include <gtest/gtest.h>

#include "state/unit_result.hpp"

namespace pelorin {
namespace {

TEST(UnitResult, DefaultRecordJson) {
    EXPECT_EQ(result_json(UnitResult{}),
              "{\"checked\":\"0\",\"proof_exclusions\":\"0\",\"proof_hash\":\"\",\"checksum_sum\":0,"
              "\"checksum_xor\":0,\"frontier_nodes\":\"0\",\"survivors_evaluated\":\"0\",\"u64_completions\":\"0\","
              "\"u128_completions\":\"0\",\"u256_completions\":\"0\",\"bigint_completions\":\"0\",\"steps\":\"0\","
              "\"elapsed_seconds\":0,\"kernel_seconds\":0,\"transfer_seconds\":0,\"valid\":true}");
}

TEST(UnitResult, JsonOfLargeValuesAndTimes) {
    UnitResult r;
    r.checked = BigUint::from_limbs({0, 1});
    r.checksum_sum = ~std::uint64_t{0};
    r.elapsed_seconds = 0.5;
    r.kernel_seconds = 1e-7;
    r.transfer_seconds = 1.0 / 3.0;
    r.valid = false;
    const std::string j = result_json(r);
    EXPECT_NE(j.find("\"checked\":\"18446744073709551616\""), std::string::npos) << j;
    EXPECT_NE(j.find("\"checksum_sum\":18446744073709551615,"), std::string::npos) << j;
    EXPECT_NE(j.find("\"elapsed_seconds\":0.5,\"kernel_seconds\":1e-07,\"transfer_seconds\":0.333333333333,"),
              std::string::npos)
        << j;
    EXPECT_TRUE(j.ends_with("\"valid\":false}")) << j;
}

TEST(UnitResult, MergeFoldsCountersChecksumsAndTimes) {
    UnitResult a, b;
    a.checked = BigUint(~std::uint64_t{0});
    b.checked = BigUint(1);
    a.steps = BigUint(5);
    b.u256_completions = BigUint(2);
    a.checksum_sum = ~std::uint64_t{0};
    b.checksum_sum = 2;
    a.checksum_xor = 0b1100;
    b.checksum_xor = 0b1010;
    a.elapsed_seconds = 1.5;
    b.elapsed_seconds = 2.0;
    b.kernel_seconds = 0.25;
    b.backend = "other";
    merge(a, b);
    EXPECT_EQ(a.checked.limbs(), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(a.steps, BigUint(5));
    EXPECT_EQ(a.u256_completions, BigUint(2));
    EXPECT_EQ(a.checksum_sum, 1u);
    EXPECT_EQ(a.checksum_xor, 0b0110u);
    EXPECT_DOUBLE_EQ(a.elapsed_seconds, 3.5);
    EXPECT_DOUBLE_EQ(a.kernel_seconds, 0.25);
    EXPECT_EQ(a.backend, "");
    EXPECT_TRUE(a.valid);
}

TEST(UnitResult, MergeProofHashesAndMessages) {
    struct Case {
        const char* into_hash;
        const char* from_hash;
        const char* into_msg;
        const char* from_msg;
        bool valid;
        const char* hash;
        const char* msg;
    };
    const Case cases[] = {
        {"A", "", "", "", true, "A", ""},
        {"", "A", "", "", true, "A", ""},
        {"A", "A", "", "", true, "A", ""},
        {"A", "B", "", "", false, "A", "proof table hash mismatch; "},
        {"A", "B", "", "x", false, "A", "proof table hash mismatch; ; x"},
        {"", "", "first", "second", true, "", "first; second"},
        {"", "", "", "second", true, "", "second"},
        {"", "", "first", "", true, "", "first"},
    };
    for (const auto& c : cases) {
        UnitResult into, from;
        into.proof_hash = c.into_hash;
        from.proof_hash = c.from_hash;
        into.message = c.into_msg;
        from.message = c.from_msg;
        merge(into, from);
        EXPECT_EQ(into.valid, c.valid) << c.into_hash << "/" << c.from_hash;
        EXPECT_EQ(into.proof_hash, c.hash);
        EXPECT_EQ(into.message, c.msg);
    }
    UnitResult bad, good;
    bad.valid = false;
    merge(good, bad);
    EXPECT_FALSE(good.valid);
}

TEST(UnitResult, MoveLeavesSourceEmpty) {
    UnitResult a;
    a.backend = "record-recursive-with-a-long-name-past-small-buffers";
    a.checked = BigUint(7);
    UnitResult b = std::move(a);
    EXPECT_EQ(b.checked, BigUint(7));
    EXPECT_TRUE(a.backend.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(a.checked.is_zero());
}

}  // namespace
}  // namespace pelorin
