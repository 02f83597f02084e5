// The coordinator address of `run --coordinator`: host, host:port and [IPv6]:port.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/cmd_run.hpp"

namespace pelorin {
namespace {

TEST(RunOptions, CoordinatorAddressForms) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        std::uint16_t port;
    };
    const Case cases[] = {
        {"coordinator.example.org", "coordinator.example.org", 443},
        {"127.0.0.1:8443", "127.0.0.1", 8443},
        {"localhost:1", "localhost", 1},
        {"host:65535", "host", 65535},
        {"[::1]:8443", "::1", 8443},
        {"[::1]", "::1", 443},
        {"[2001:db8::7]:40000", "2001:db8::7", 40000},
        {"::1", nullptr, 0},          // a bare IPv6 address needs brackets
        {"[::1", nullptr, 0},
        {"[::1]8443", nullptr, 0},
        {"[::1]:", nullptr, 0},
        {"[]:80", nullptr, 0},
        {"host:", nullptr, 0},
        {":80", nullptr, 0},
        {"", nullptr, 0},
        {"host:0", nullptr, 0},
        {"host:65536", nullptr, 0},
        {"host:123456", nullptr, 0},
        {"host:8x", nullptr, 0},
        {"host:-1", nullptr, 0},
    };
    for (const auto& c : cases) {
        if (c.host == nullptr) {
            EXPECT_THROW(parse_coordinator(c.text, 443), std::invalid_argument) << c.text;
            continue;
        }
        const HostPort hp = parse_coordinator(c.text, 443);
        EXPECT_EQ(hp.host, c.host) << c.text;
        EXPECT_EQ(hp.port, c.port) << c.text;
    }
}

// --pause-while-in-use and PELORIN_PAUSE_WHILE_IN_USE: words, minutes, and what is refused.
TEST(RunOptions, InUseMinutes) {
    struct Case {
        const char* text;
        int minutes;  // 0: off; -1: refused
    };
    const Case cases[] = {
        {"", 0},  {"no", 0},   {"off", 0},  {"false", 0}, {"0", 0},     {"yes", 3},   {"on", 3},
        {"true", 3}, {"1", 1}, {"10", 10}, {"1440", 1440}, {"1441", -1}, {"-5", -1},  {"2.5", -1},
        {"maybe", -1}, {"99999", -1}, {"3 ", -1},
    };
    for (const Case& c : cases) {
        if (c.minutes < 0) {
            EXPECT_THROW(parse_in_use_minutes(c.text), std::invalid_argument) << "\"" << c.text << "\"";
            continue;
        }
        const auto got = parse_in_use_minutes(c.text);
        EXPECT_EQ(got ? static_cast<int>(got->count()) : 0, c.minutes) << "\"" << c.text << "\"";
    }
}

}  // namespace
}  // namespace pelorin
