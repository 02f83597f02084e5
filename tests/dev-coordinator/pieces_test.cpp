// The development coordinator's own pieces without the network: faults and their paths.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tools/dev-coordinator/faults.hpp"

namespace pelorin::devcoord {
namespace {

TEST(DevCoordinatorPieces, FaultsAreParsedStrictly) {
    const Fault f = parse_fault(R"({"path":"/api/v1/leases/*","count":2,"action":"malformed","member":"begin","value":"12x"})");
    EXPECT_EQ(f.path, "/api/v1/leases/*");
    EXPECT_EQ(f.count, 2u);
    EXPECT_EQ(f.action, FaultAction::malformed);
    EXPECT_EQ(f.value, "12x");
    EXPECT_EQ(parse_fault(R"({"path":"/x","action":"drop"})").count, 1u);

    const Fault busy = parse_fault(R"({"path":"/x","action":"status","status":503,"retry_after":"Sun, 06 Nov 1994"})");
    EXPECT_EQ(busy.retry_after, "Sun, 06 Nov 1994");
    EXPECT_EQ(parse_fault(R"({"path":"/x","action":"status","status":503})").retry_after, std::nullopt);
    const Fault large = parse_fault(R"({"path":"/x","action":"large","bytes":1048577,"chunked":true})");
    EXPECT_EQ(large.action, FaultAction::large);
    EXPECT_EQ(large.bytes, 1048577u);
    EXPECT_TRUE(large.chunked);
    EXPECT_FALSE(parse_fault(R"({"path":"/x","action":"large","bytes":1})").chunked);
    const Fault trickle = parse_fault(R"({"path":"/x","action":"trickle","seconds":0.25})");
    EXPECT_EQ(trickle.action, FaultAction::trickle);
    EXPECT_EQ(trickle.seconds, 0.25);

    const char* bad[] = {
        "not json",
        R"({"action":"drop"})",
        R"({"path":"/x","action":"explode"})",
        R"({"path":"/x","action":"status","status":99})",
        R"({"path":"/x","action":"status"})",
        R"({"path":"/x","action":"omit"})",
        R"({"path":"/x","action":"malformed","member":"begin"})",
        R"({"path":"/x","action":"stall","seconds":-1})",
        R"({"path":"/x","action":"drop","count":0})",
        R"({"path":"/x","action":"status","status":503,"retry_after":7})",
        R"({"path":"/x","action":"status","status":503,"retry_after":"7\r\nX-Other: 1"})",
        R"({"path":"/x","action":"large"})",
        R"({"path":"/x","action":"large","bytes":0})",
        R"({"path":"/x","action":"large","bytes":1073741825})",
        R"({"path":"/x","action":"large","bytes":-5})",
        R"({"path":"/x","action":"large","bytes":10,"chunked":"yes"})",
        R"({"path":"/x","action":"trickle"})",
        R"({"path":"/x","action":"trickle","seconds":601})",
    };
    for (const char* text : bad) EXPECT_THROW(parse_fault(text), std::invalid_argument) << text;
}

TEST(DevCoordinatorPieces, FaultPathsAndReplyRewriting) {
    EXPECT_TRUE(fault_path_matches("/api/v1/leases/acquire", "/api/v1/leases/acquire"));
    EXPECT_FALSE(fault_path_matches("/api/v1/leases/acquire", "/api/v1/leases/acquire2"));
    EXPECT_TRUE(fault_path_matches("/api/v1/leases/*", "/api/v1/leases/lease-1/heartbeat"));
    EXPECT_FALSE(fault_path_matches("/api/v1/leases/*", "/api/v1/benchmarks"));
    EXPECT_TRUE(fault_path_matches("*", "/healthz"));
    // A star inside the path: one lease exchange of any lease.
    EXPECT_TRUE(fault_path_matches("/api/v1/leases/*/heartbeat", "/api/v1/leases/lease-12/heartbeat"));
    EXPECT_FALSE(fault_path_matches("/api/v1/leases/*/heartbeat", "/api/v1/leases/lease-12/complete"));
    EXPECT_FALSE(fault_path_matches("/api/v1/leases/*/heartbeat", "/api/v1/leases/acquire"));
    EXPECT_TRUE(fault_path_matches("/api/*/leases/*/complete", "/api/v1/leases/a/complete/b/complete"));
    EXPECT_FALSE(fault_path_matches("/api/*/complete", "/api/v1/complete/x"));

    const std::string reply = R"({"lease_id":"lease-1","begin":"10","end":"20","complete":false})";
    Fault omit;
    omit.action = FaultAction::omit;
    omit.member = "begin";
    EXPECT_EQ(apply_reply_fault(omit, reply), R"({"lease_id":"lease-1","end":"20","complete":false})");
    Fault bad;
    bad.action = FaultAction::malformed;
    bad.member = "begin";
    bad.value = "12x";
    EXPECT_EQ(apply_reply_fault(bad, reply), R"({"lease_id":"lease-1","begin":12x,"end":"20","complete":false})");
    bad.member = "extra";
    bad.value = "\"true\"";
    EXPECT_EQ(apply_reply_fault(bad, R"({"a":1})"), R"({"a":1,"extra":"true"})");
    EXPECT_EQ(apply_reply_fault(omit, "[1]"), "[1]");
}

}  // namespace
}  // namespace pelorin::devcoord
