#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "coordinator/retry_after.hpp"

namespace pelorin {
namespace {

using namespace std::chrono;

TEST(RetryAfter, DelaySecondsAndHttpDatesBecomeADelayFromNow) {
    // Tue, 10 Mar 2026 12:00:00.250 GMT: a date is a whole second, so the delay rounds up.
    const sys_seconds whole_now = sys_days(2026y / March / 10) + 12h;
    const system_clock::time_point now = whole_now + 250ms;
    const seconds to_2070 = sys_days(2070y / January / 1) - whole_now;
    struct Case {
        std::string value;
        std::optional<seconds> delay;
    };
    const Case cases[] = {
        {"120", 120s},
        {" \t0 ", 0s},
        {"0007", 7s},
        {"2147483648", kMaxRetryAfter},
        {"99999999999999999999999999", kMaxRetryAfter},
        {"Tue, 10 Mar 2026 12:01:00 GMT", 60s},
        {"Tuesday, 10-Mar-26 12:00:30 GMT", 30s},
        {"Tue Mar 10 13:00:00 2026", 3600s},
        {"Sun Mar  1 12:00:00 2026", 0s},  // passed
        {"Sun, 06 Nov 1994 08:49:37 GMT", 0s},
        {"Fri, 31 Dec 9999 23:59:59 GMT", kMaxRetryAfter},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 0s},            // 2094 is over 50 years ahead: 1994
        {"Wednesday, 01-Jan-70 00:00:00 GMT", to_2070},     // 2070 is not
        {"Tue, 10 Mar 2026 23:59:60 GMT", 43200s},          // a leap second
        // Nothing usable: no value.
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"1.5", std::nullopt},
        {"5s", std::nullopt},
        {"1 2", std::nullopt},
        {"soon", std::nullopt},
        {"Tue, 30 Feb 2026 12:00:00 GMT", std::nullopt},
        {"Tue, 10 Mar 2026 24:00:00 GMT", std::nullopt},
        {"Tue, 10 Mar 2026 12:60:00 GMT", std::nullopt},
        {"tue, 10 Mar 2026 12:00:00 GMT", std::nullopt},
        {"Tue, 10 mar 2026 12:00:00 GMT", std::nullopt},
        {"Tue, 10 Mar 2026 12:00:00 UTC", std::nullopt},
        {"Tue, 10 Mar 2026 12:00:00 GMT,", std::nullopt},
        {"Tue, 10 Mar 26 12:00:00 GMT", std::nullopt},
        {"Tue, 1 Mar 2026 12:00:00 GMT", std::nullopt},
        {"Tuesday, 10-Mar-2026 12:00:00 GMT", std::nullopt},
        {"Tue Mar 10 12:00:00 26", std::nullopt},
        {"Tue Mar 1 12:00:00 2026", std::nullopt},
        {"Tue,", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<seconds> got = parse_retry_after(c.value, now);
        EXPECT_EQ(got.has_value(), c.delay.has_value()) << '"' << c.value << '"';
        if (got && c.delay) {
            EXPECT_EQ(got->count(), c.delay->count()) << '"' << c.value << '"';
        }
    }
}

}  // namespace
}  // namespace pelorin
