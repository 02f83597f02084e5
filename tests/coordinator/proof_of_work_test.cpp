#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>

#include "coordinator/proof_of_work.hpp"
#include "sha256/sha256.hpp"

namespace pelorin {
namespace {

TEST(ProofOfWork, LeadingZeroBitsCountDigitByDigit) {
    struct Case {
        std::string digest;
        unsigned zeros;
    };
    const Case cases[] = {
        {"00f" + std::string(61, 'f'), 8}, {"08" + std::string(62, '0'), 4}, {"1" + std::string(63, '0'), 3},
        {"2f", 2},  {"3f", 2}, {"4f", 1}, {"7f", 1}, {"8f", 0}, {"f0", 0}, {"0001", 15},
        {std::string(64, '0'), 256},
    };
    for (const auto& c : cases) EXPECT_EQ(leading_zero_bits(c.digest), c.zeros) << c.digest;
}

TEST(ProofOfWork, SolutionIsTheFirstCounterThatMeetsTheDifficulty) {
    EXPECT_EQ(proof_candidate("abc", 12), "abc12");
    EXPECT_EQ(solve_challenge("anything", 0, {}), 0u);
    for (const std::uint64_t bits : {1u, 4u, 9u}) {
        const std::string nonce = "nonce-" + std::to_string(bits) + "-";
        const std::uint64_t solution = solve_challenge(nonce, bits, {});
        EXPECT_GE(leading_zero_bits(sha256_hex(nonce + std::to_string(solution))), bits) << nonce;
        for (std::uint64_t earlier = 0; earlier < solution; ++earlier) {
            ASSERT_LT(leading_zero_bits(sha256_hex(nonce + std::to_string(earlier))), bits) << nonce << earlier;
        }
    }
}

TEST(ProofOfWork, UnreachableDifficultyFailsAtOnce) {
    // 2^32 + 1 would read as 1 if the difficulty were narrowed to 32 bits first.
    for (const std::uint64_t bits : {std::uint64_t{257}, std::uint64_t{4294967297}, ~std::uint64_t{0}}) {
        try {
            solve_challenge("n", bits, {});
            ADD_FAILURE() << bits << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Registration challenge asks for " + std::to_string(bits) +
                                                 " leading zero bits; a SHA-256 digest has only 256");
        }
    }
}

// A 64-bit challenge takes longer than any run lasts: only a stop ends it, with "Stopped".
TEST(ProofOfWork, StopEndsTheSearch) {
    const auto outcome = [](std::stop_token stop) {
        try {
            return "solved with " + std::to_string(solve_challenge("n", 64, stop));
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
    };
    std::stop_source before;
    before.request_stop();
    EXPECT_EQ(outcome(before.get_token()), "Stopped");

    std::stop_source during;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        during.request_stop();
    });
    const std::string message = outcome(during.get_token());
    stopper.join();
    EXPECT_EQ(message, "Stopped");
}

}  // namespace
}  // namespace pelorin
