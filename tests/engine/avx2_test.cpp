#include <gtest/gtest.h>

#include <random>

#include "engine/check_start.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"
#include "engine/verify_chunk.hpp"
#include "engine/verify_chunk_avx2.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

const std::string kName = "avx2-experimental";

UnitResult chunk(std::uint64_t begin, std::uint64_t count, std::uint64_t hi = 0) {
    return verify_chunk_avx2(UnitRange{U128{begin, hi}, U128{begin + count, hi}, false}, 0, count, kName);
}

TEST(Avx2, SmallChunksCountEveryLane) {
    const UnitResult r = chunk(0, 5);  // a group of four and a group of one
    EXPECT_EQ(biguint_to_decimal(r.checked), "5");
    EXPECT_EQ(biguint_to_decimal(r.candidates), "3");  // 0 and 1 only in checked
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.proof_exclusions.is_zero());
    EXPECT_TRUE(r.u64_completions.is_zero());
    EXPECT_EQ(r.steps, BigUint(1 + 6 + 1));  // plain counts: 2 -> 1, 3 -> ... -> 2, 4 -> 2
}

TEST(Avx2, LaneThatWouldPass64BitsTakesTheShortcutCount) {
    // Odd starts above the bound overflow before their first step; even ones halve once.
    const std::uint64_t b = std::uint64_t{1} << 63;
    const UnitResult r = chunk(b, 4);
    std::uint64_t s1 = 0, s3 = 0;
    bool esc = false;
    check_start(U128{b + 1, 0}, true, s1, esc);
    check_start(U128{b + 3, 0}, true, s3, esc);
    EXPECT_EQ(r.steps, BigUint(1 + s1 + 1 + s3));
}

TEST(Avx2, VectorLoopMatchesLaneAtATimeLoop) {
    if (!cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    const std::uint64_t seed = 99;
    std::mt19937_64 rng(seed);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans = {{0, 1000}, {(1ull << 63) - 500, 1000}, {~0ull - 100, 101}};
    for (int i = 0; i < 20; ++i) spans.emplace_back(rng() >> (rng() % 40), 1 + rng() % 3000);
    for (const auto& [first, count] : spans) {
        UnitResult vec, lane;
        detail::verify_lanes_avx2(first, count, vec);
        detail::verify_lanes_portable(first, count, lane);
        SCOPED_TRACE("first " + std::to_string(first) + " count " + std::to_string(count) + " seed " + std::to_string(seed));
        EXPECT_EQ(vec.steps, lane.steps);
        EXPECT_EQ(vec.checked, lane.checked);
        EXPECT_EQ(vec.candidates, lane.candidates);
        EXPECT_EQ(vec.overflow_starts, lane.overflow_starts);
        EXPECT_EQ(vec.checksum_sum, lane.checksum_sum);
        EXPECT_EQ(vec.checksum_xor, lane.checksum_xor);
    }
}

TEST(Avx2, RecordDoesNotDependOnTheProcessor) {
    // Without AVX2 the four-lane loop runs one lane at a time: plain counts on [1, 101), 803
    // steps as with AVX2, never the 898 shortcut steps of "ctz".
    std::vector<detail::LanesFn> kernels = {detail::lanes_kernel_for(false), detail::lanes_kernel()};
    if (cpu_has_avx2()) kernels.push_back(detail::lanes_kernel_for(true));
    for (std::size_t i = 0; i < kernels.size(); ++i) {
        UnitResult r;
        kernels[i](1, 100, r);
        SCOPED_TRACE("kernel " + std::to_string(i));
        EXPECT_EQ(r.steps, BigUint(803));
        EXPECT_EQ(biguint_to_decimal(r.checked), "100");
        EXPECT_EQ(biguint_to_decimal(r.candidates), "99");
        EXPECT_EQ(r.checksum_sum, 0xe2a5fa25472999f3ull);
        EXPECT_EQ(r.checksum_xor, 0xc0c53dd80785a299ull);
    }
}

TEST(Avx2, ChunksReaching2To64AreTheCtzRecordUnderThisName) {
    const UnitRange range{U128{~0ull - 10, 0}, U128{10, 1}, false};
    UnitResult r = verify_chunk_avx2(range, 0, 21, kName);
    UnitResult ctz = verify_chunk(range, 0, 21, "ctz");
    EXPECT_EQ(r.backend, kName);
    EXPECT_EQ(r.steps, ctz.steps);
    EXPECT_EQ(r.u64_completions, ctz.u64_completions);
    EXPECT_EQ(r.u128_completions, ctz.u128_completions);
    EXPECT_EQ(r.proof_exclusions, ctz.proof_exclusions);
}

}  // namespace
}  // namespace pelorin
