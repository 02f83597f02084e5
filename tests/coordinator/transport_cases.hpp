#pragma once
// Cases that every transport must pass against the development coordinator, whichever
// platform runs them; `post_fault` queues a fault with the coordinator's /dev/faults.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "coordinator/https_transport.hpp"
#include "coordinator/retry_after.hpp"

namespace pelorin {

inline void PrintTo(HttpsFailure kind, std::ostream* out) {
    const char* names[] = {"setup", "network", "untrusted", "status", "too_large"};
    *out << names[static_cast<int>(kind)];
}

namespace test {

using PostFault = std::function<void(const std::string& fault_json)>;

// The HttpsError that `action` throws, or none.
inline std::optional<HttpsError> https_failure_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const HttpsError& e) {
        return e;
    }
    return std::nullopt;
}

// Retry-After as a number for messages: -1 when there is none.
inline long long retry_seconds(const HttpsError& e) { return e.retry_after() ? e.retry_after()->count() : -1; }

// Replies outside 200..299: kind status, the status, and the Retry-After the reply gave.
inline void expect_status_failures(const PostFault& post_fault) {
    const struct {
        int status;
        std::string retry_after;  // the fault's member, or empty for none
        long long seconds;        // what the error carries; -1 for none
    } cases[] = {
        {500, "", -1},
        {503, "120", 120},
        {503, "Sun, 06 Nov 1994 08:49:37 GMT", 0},  // passed
        {503, "Fri, 31 Dec 9999 23:59:59 GMT", kMaxRetryAfter.count()},
        {503, "in a minute", -1},
        {408, "", -1},
        {429, "7", 7},
        {400, "", -1},
        {401, "", -1},
        {403, "3", 3},
    };
    for (const auto& c : cases) {
        const std::string retry = c.retry_after.empty() ? "" : R"(,"retry_after":")" + c.retry_after + R"(")";
        post_fault(R"({"path":"/healthz","action":"status","status":)" + std::to_string(c.status) +
                   R"(,"body":"busy")" + retry + "}");
        const auto e = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
        ASSERT_TRUE(e) << c.status << " " << c.retry_after;
        EXPECT_EQ(e->failure(), HttpsFailure::status) << c.status;
        EXPECT_EQ(e->status(), static_cast<std::uint32_t>(c.status));
        EXPECT_EQ(retry_seconds(*e), c.seconds) << c.status << " " << c.retry_after;
        EXPECT_EQ(std::string(e->what()), "Coordinator error " + std::to_string(c.status) + ": busy");
    }
}

// A body over 1 MiB is refused, announced or not; one of exactly 1 MiB is read whole.
inline void expect_reply_cap(const PostFault& post_fault) {
    const std::string ok = R"({"status":"ok"})";
    const std::string refused =
        "HTTPS reply from " + coordinator_address().host + " is larger than 1048576 bytes and was refused";
    for (const char* chunked : {"false", "true"}) {
        const std::string large = R"({"path":"/healthz","action":"large","chunked":)" + std::string(chunked) + R"(,"bytes":)";
        post_fault(large + std::to_string(kMaxReplyBytes) + "}");
        const HttpsResponse whole = https_request("GET", "/healthz", "", "");
        EXPECT_EQ(whole.body.size(), kMaxReplyBytes) << "chunked " << chunked;
        EXPECT_EQ(whole.body.substr(0, ok.size()), ok) << "chunked " << chunked;

        // One byte over, and a gigabyte that must not be read to its end.
        for (const std::size_t bytes : {kMaxReplyBytes + 1, std::size_t{1} << 30}) {
            post_fault(large + std::to_string(bytes) + "}");
            const auto e = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
            ASSERT_TRUE(e) << bytes << " chunked " << chunked;
            EXPECT_EQ(e->failure(), HttpsFailure::too_large) << bytes << " chunked " << chunked << ": " << e->what();
            EXPECT_EQ(std::string(e->what()), refused);
        }
    }
    EXPECT_EQ(https_request("GET", "/healthz", "", "").body, ok) << "the next request is served";
}

// A reply that comes a byte at a time, each well within the receive timeout, is cut at the
// overall deadline.
inline void expect_trickle_cut_at_deadline(const PostFault& post_fault) {
    post_fault(R"({"path":"/healthz","action":"trickle","seconds":0.5})");  // 15 bytes: 7.5 s
    TransportTimeouts quick;
    quick.total = std::chrono::milliseconds(2000);
    set_transport_timeouts(quick);
    const auto e = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    set_transport_timeouts({});
    ASSERT_TRUE(e);
    EXPECT_EQ(e->failure(), HttpsFailure::network);
    // Normally in the body; on a machine slow enough, already while connecting.
    const std::string message = e->what();
    EXPECT_TRUE(message.starts_with("No HTTPS response from " + coordinator_address().host + ": ") ||
                message.starts_with("Could not send HTTPS request to " + coordinator_address().host + ": "))
        << message;
    EXPECT_TRUE(message.ends_with(": Operation timed out: the whole exchange took over 2000 milliseconds")) << message;
    EXPECT_EQ(https_request("GET", "/healthz", "", "").status, 200u) << "the next request is served";
}

}  // namespace test
}  // namespace pelorin
