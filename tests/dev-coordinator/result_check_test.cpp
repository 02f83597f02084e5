// The result check against real records from the engine, and every reason to reject one.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

#include "engine/proof_table.hpp"
#include "engine/verify_range.hpp"
#include "tools/dev-coordinator/result_check.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;

UnitRange range_of(const char* begin, const char* end) {
    const EndBound e = parse_end_bound(end);
    return UnitRange{parse_u128(begin), e.value, e.end_is_2_128};
}

// The body a worker sends for the unit after verifying it with the given backend.
std::string completed_body(const UnitRange& unit, const std::string& backend = "record-recursive") {
    BackendOptions options;
    options.name = backend;
    options.threads = 2;
    return "{\"result\":" + result_json(verify_range(unit, options)) + "}";
}

TEST(DevCoordinatorResultCheck, RealRecordsAreAccepted) {
    const char* units[][2] = {
        {"4294967296", "4295032832"},                                      // 2^16 starts above 2^32
        {"18446744073709550592", "18446744073709552640"},                  // across 2^64
        {"340282366920938463463374607431768207360", "2^128"},             // up to 2^128
    };
    for (const auto& u : units) {
        const UnitRange unit = range_of(u[0], u[1]);
        const Verdict v = check_result(unit, completed_body(unit));
        EXPECT_TRUE(v.accepted) << u[0] << " .. " << u[1] << ": " << v.text;
        EXPECT_EQ(v.text, "accepted");
    }
}

TEST(DevCoordinatorResultCheck, EveryFlawHasItsReason) {
    const UnitRange unit = range_of("18446744073709550592", "18446744073709552640");
    const ojson good = ojson::parse(completed_body(unit));
    struct Case {
        const char* what;
        std::function<void(ojson&)> spoil;
        const char* reason;
    };
    const Case cases[] = {
        {"one start short", [](ojson& r) { r["checked"] = "2047"; },
         "rejected: checked is 2047, the unit has 2048 starts"},
        {"no proof hash", [](ojson& r) { r["proof_hash"] = ""; }, "rejected: the result carries no proof hash"},
        {"another table", [](ojson& r) { r["proof_hash"] = std::string(64, 'f'); },
         "rejected: unknown proof hash ffff"},
        {"frontier accounting", [](ojson& r) { r["frontier_nodes"] = "3"; }, "rejected: survivor-frontier"},
        {"counters do not add up",
         [](ojson& r) {
             r["survivors_evaluated"] = std::to_string(std::stoull(r["survivors_evaluated"].get<std::string>()) + 1);
         },
         "rejected: proof_exclusions + survivors_evaluated is"},
        {"invalid record", [](ojson& r) { r["valid"] = false; }, "rejected: the result reports a failed verification"},
        {"sum off by one", [](ojson& r) { r["checksum_sum"] = r["checksum_sum"].get<std::uint64_t>() + 1; },
         "rejected: checksum_sum is"},
        {"xor off by one bit", [](ojson& r) { r["checksum_xor"] = r["checksum_xor"].get<std::uint64_t>() ^ 1; },
         "rejected: checksum_xor is"},
        {"member missing", [](ojson& r) { r.erase("steps"); }, "rejected: result member steps is missing or malformed"},
        {"counter as a bare number", [](ojson& r) { r["checked"] = 2048; },
         "rejected: result member checked is missing or malformed"},
        {"counter with a sign", [](ojson& r) { r["checked"] = "+2048"; },
         "rejected: result member checked is missing or malformed"},
        {"checksum quoted", [](ojson& r) { r["checksum_sum"] = "1"; },
         "rejected: result member checksum_sum is missing or malformed"},
        {"negative checksum", [](ojson& r) { r["checksum_xor"] = -1; },
         "rejected: result member checksum_xor is missing or malformed"},
        {"valid as text", [](ojson& r) { r["valid"] = "true"; }, "rejected: result member valid is missing or malformed"},
    };
    for (const Case& c : cases) {
        ojson body = good;
        c.spoil(body["result"]);
        const Verdict v = check_result(unit, body.dump());
        EXPECT_FALSE(v.accepted) << c.what;
        EXPECT_EQ(v.text.rfind(c.reason, 0), 0u) << c.what << ": got \"" << v.text << "\" for " << body.dump();
    }
}

TEST(DevCoordinatorResultCheck, ResultsOfOtherStartsOrShapesAreRejected) {
    const UnitRange unit = range_of("4294967296", "4295032832");
    // The same number of starts one further on: only the checksums can tell.
    const UnitRange shifted = range_of("4294967297", "4295032833");
    const Verdict moved = check_result(unit, completed_body(shifted));
    EXPECT_EQ(moved.text.rfind("rejected: checksum_sum is", 0), 0u) << moved.text;
    // A backend without the proof table leaves the hash empty.
    EXPECT_EQ(check_result(unit, completed_body(unit, "cpu-sieve")).text, "rejected: the result carries no proof hash");
    const struct {
        const char* body;
        const char* reason;
    } shapes[] = {
        {"", "rejected: request body is not a JSON object"},
        {"[1]", "rejected: request body is not a JSON object"},
        {R"({"result":"x"})", "rejected: request body has no result object"},
        {R"({"checked":"65536"})", "rejected: request body has no result object"},
    };
    for (const auto& s : shapes) EXPECT_EQ(check_result(unit, s.body).text, s.reason) << s.body;
    EXPECT_EQ(known_proof_schemes().front().hash, proof_table_hash());
}

}  // namespace
}  // namespace pelorin::devcoord
