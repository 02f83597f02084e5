// The coordinator's pieces without the network: puzzle bits, unit checksums, faults, ledger.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/mix64.hpp"
#include "tools/dev-coordinator/faults.hpp"
#include "tools/dev-coordinator/ledger.hpp"
#include "tools/dev-coordinator/proof_of_work.hpp"
#include "tools/dev-coordinator/unit_checksums.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::devcoord {
namespace {

UnitRange range_of(const char* begin, const char* end) {
    const EndBound e = parse_end_bound(end);
    return UnitRange{parse_u128(begin), e.value, e.end_is_2_128};
}

std::string text_of(const UnitRange& r) {
    return "[" + u128_to_decimal(r.begin) + ", " + end_to_decimal(r.end, r.end_is_2_128) + ")";
}

TEST(DevCoordinatorPieces, LeadingZeroBitsOfADigest) {
    const struct {
        const char* hex;
        unsigned bits;
    } cases[] = {{"00f0", 8}, {"08", 4}, {"1abc", 3}, {"2", 2}, {"3", 2}, {"4", 1}, {"7", 1},
                 {"8", 0},    {"f", 0},  {"0000", 16}, {"", 0}, {"0x", 4}};
    for (const auto& c : cases) EXPECT_EQ(leading_zero_bits(c.hex), c.bits) << c.hex;
}

TEST(DevCoordinatorPieces, UnitChecksumsMatchTheStartByStartSumAcrossLimbBoundaries) {
    const struct {
        const char* begin;
        const char* end;
    } cases[] = {
        {"1", "101"},
        {"18446744073709551611", "18446744073709551621"},  // 2^64 - 5 .. 2^64 + 5
        {"36893488147419103229", "36893488147419103234"},  // across 2^65
        {"340282366920938463463374607431768211449", "2^128"},
        {"7", "7"},
    };
    for (const auto& c : cases) {
        const UnitRange r = range_of(c.begin, c.end);
        std::uint64_t sum = 0;
        std::uint64_t xor_ = 0;
        U128 s = r.begin;
        for (std::uint64_t i = 0; i < unit_size(r); ++i, s = add_u64(s, 1)) {
            sum += start_checksum(s);
            xor_ ^= start_checksum(s);
        }
        const ChecksumPair got = unit_checksums(r);
        EXPECT_EQ(got.sum, sum) << text_of(r);
        EXPECT_EQ(got.xor_, xor_) << text_of(r);
    }
    // The engine's known answer on [1, 101).
    EXPECT_EQ(unit_checksums(range_of("1", "101")).sum, 0xe2a5fa25472999f3ull);
    EXPECT_EQ(unit_checksums(range_of("1", "101")).xor_, 0xc0c53dd80785a299ull);
}

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

TEST(DevCoordinatorPieces, UnitsAreCarvedUpToTheCampaignEnd) {
    const struct {
        const char* begin;
        const char* end;
        std::uint64_t unit;
        std::vector<std::string> units;
    } cases[] = {
        {"1000", "3500", 1000, {"[1000, 2000)", "[2000, 3000)", "[3000, 3500)"}},
        {"5", "5", 10, {}},
        {"340282366920938463463374607431768211446", "2^128", 4,
         {"[340282366920938463463374607431768211446, 340282366920938463463374607431768211450)",
          "[340282366920938463463374607431768211450, 340282366920938463463374607431768211454)",
          "[340282366920938463463374607431768211454, 340282366920938463463374607431768211456)"}},
        {"0", "2^128", 18446744073709551615ull,
         {"[0, 18446744073709551615)", "[18446744073709551615, 36893488147419103230)"}},
    };
    for (const auto& c : cases) {
        Ledger ledger = new_ledger(range_of(c.begin, c.end), c.unit);
        std::vector<std::string> got;
        UnitRange u;
        while (got.size() < c.units.size() + 1 && carve_unit(ledger, u)) got.push_back(text_of(u));
        if (c.units.size() == 2) got.resize(2);  // the campaign over all of 2^128 goes on
        EXPECT_EQ(got, c.units) << c.begin << " .. " << c.end << " by " << c.unit;
    }
    EXPECT_THROW(new_ledger(range_of("10", "5"), 1), std::invalid_argument);
    EXPECT_THROW(new_ledger(range_of("1", "5"), 0), std::invalid_argument);
}

TEST(DevCoordinatorPieces, LedgerSurvivesItsJsonForm) {
    Ledger ledger = new_ledger(range_of("1000", "2^128"), 500);
    UnitRange u;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(carve_unit(ledger, u));
        UnitEntry e;
        e.index = ledger.units.size();
        e.range = u;
        e.state = i == 0 ? UnitState::accepted : UnitState::leased;
        e.leases.push_back(LeaseRecord{"lease-" + std::to_string(i + 1), "w-1", "ab", 2.5e6, "7", 1, 2,
                                       i == 0 ? LeaseState::completed : LeaseState::active});
        if (i == 0) e.submissions.push_back(Submission{"lease-1", "w-1", R"({"result":{"checked":"500"}})", "accepted", 3});
        ledger.units.push_back(e);
    }
    ledger.next_lease_number = 3;
    const std::string text = ledger_to_json(ledger);
    EXPECT_EQ(ledger_to_json(ledger_from_json(text)), text);
    EXPECT_THROW(ledger_from_json("{\"format\":\"other\"}"), std::runtime_error);
    EXPECT_THROW(ledger_from_json(text.substr(0, text.size() / 2)), std::runtime_error);

    const std::string summary = ledger_summary(ledger);
    EXPECT_NE(summary.find("unit 0  [1000, 1500)  worker w-1  accepted\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("unit 1  [1500, 2000)  worker w-1  leased (lease-2, progress 7)\n"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Units: 2 handed out, 1 accepted, 1 leased, 0 open, 0 set aside\n"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Starts accepted: 500\n"), std::string::npos) << summary;
}

}  // namespace
}  // namespace pelorin::devcoord
