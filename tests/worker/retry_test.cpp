// Which failures a service waits out, and how long it waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "coordinator/https_transport.hpp"
#include "coordinator/identity_store.hpp"
#include "worker/lease_cycle.hpp"
#include "worker/retry.hpp"

namespace pelorin {
namespace {

using namespace std::chrono;

TEST(Retry, WhatWaitingCanFixAndWhatToDoAboutTheRest) {
    const auto status = [](std::uint32_t s) { return HttpsError(HttpsFailure::status, "Coordinator error", s); };
    const std::string folder_advice = "can be written and its disk has room.";
    struct Case {
        const char* name;
        std::exception_ptr failure;
        bool wait;
        std::string advice;  // a part of what_to_do's line; empty: no line at all
    };
    const Case cases[] = {
        {"network", std::make_exception_ptr(HttpsError(HttpsFailure::network, "No HTTPS response")), true, ""},
        {"408", std::make_exception_ptr(status(408)), true, ""},
        {"429", std::make_exception_ptr(status(429)), true, ""},
        {"500", std::make_exception_ptr(status(500)), true, ""},
        {"503", std::make_exception_ptr(status(503)), true, ""},
        {"599", std::make_exception_ptr(status(599)), true, ""},
        {"lease lost", std::make_exception_ptr(LeaseLost("Coordinator error 409: expired")), true, ""},
        {"untrusted", std::make_exception_ptr(HttpsError(HttpsFailure::untrusted, "certificate")), false, trust_advice()},
        {"too large", std::make_exception_ptr(HttpsError(HttpsFailure::too_large, "1 MiB")), false, "look for an update"},
        {"setup", std::make_exception_ptr(HttpsError(HttpsFailure::setup, "Could not open")), false, ""},
        {"400", std::make_exception_ptr(status(400)), false, "look for an update"},
        {"401", std::make_exception_ptr(status(401)), false, "remove identity.bin from "},
        {"403", std::make_exception_ptr(status(403)), false, "remove identity.bin from "},
        {"409 outside a lease", std::make_exception_ptr(status(409)), false, ""},
        {"600", std::make_exception_ptr(status(600)), false, ""},
        {"malformed reply", std::make_exception_ptr(std::invalid_argument("empty integer")), false,
         "A reply of the coordinator could not be read"},
        {"self-test", std::make_exception_ptr(std::runtime_error("Self-test failed: x")), false, "cooling"},
        {"checkpoint not written", std::make_exception_ptr(std::runtime_error("Could not write local checkpoint")), false,
         folder_advice},
        {"checkpoint not committed", std::make_exception_ptr(std::runtime_error("Could not commit local checkpoint")),
         false, folder_advice},
        {"identity not stored", std::make_exception_ptr(std::runtime_error(kIdentityNotStored)), false, folder_advice},
        {"folder not made",
         std::make_exception_ptr(std::filesystem::filesystem_error(
             "create_directories", "/x", std::make_error_code(std::errc::permission_denied))),
         false, folder_advice},
    };
    for (const auto& c : cases) {
        try {
            std::rethrow_exception(c.failure);
        } catch (const std::exception& e) {
            EXPECT_EQ(waiting_can_help(e), c.wait) << c.name;
            const std::string advice = what_to_do(e);
            if (c.advice.empty()) EXPECT_EQ(advice, "") << c.name;
            else EXPECT_NE(advice.find(c.advice), std::string::npos) << c.name << ": " << advice;
        }
    }
}

TEST(Retry, BackoffDoublesWithJitterUpToTheCapAndStartsOver) {
    const RetryTiming timing{seconds(30), minutes(30)};
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        Backoff backoff(timing, seed);
        double nominal = 30;
        for (int fault = 0; fault < 12; ++fault, nominal = std::min(nominal * 2, 1800.0)) {
            const double wait = duration<double>(backoff.next(std::nullopt)).count();
            EXPECT_GE(wait, 0.75 * nominal) << "seed " << seed << " fault " << fault;
            EXPECT_LE(wait, std::min(1.25 * nominal, 1800.0)) << "seed " << seed << " fault " << fault;
        }
        backoff.reset();
        EXPECT_LE(backoff.next(std::nullopt), seconds(38)) << "seed " << seed;
    }
    // Two workers cut off at the same moment do not come back at the same moment.
    Backoff a(timing, 1), b(timing, 2);
    EXPECT_NE(a.next(std::nullopt), b.next(std::nullopt));
}

TEST(Retry, RetryAfterIsHonouredWithinTheCap) {
    Backoff backoff({seconds(30), minutes(30)}, 7);
    EXPECT_GE(backoff.next(seconds(600)), seconds(600));
    EXPECT_EQ(backoff.next(hours(5)), minutes(30));
    // A short Retry-After does not bring the next try before the back-off's own wait.
    EXPECT_GE(backoff.next(seconds(1)), seconds(90));
    EXPECT_EQ(requested_delay(HttpsError(HttpsFailure::status, "x", 503, seconds(12))), seconds(12));
    EXPECT_EQ(requested_delay(std::runtime_error("x")), std::nullopt);
    // Far more faults than doubling needs to pass the cap stay at the cap.
    for (int i = 0; i < 200; ++i) backoff.next(std::nullopt);
    EXPECT_LE(backoff.next(std::nullopt), minutes(30));
}

}  // namespace
}  // namespace pelorin
