// The result check against real records from the engine, and every reason to reject one.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

#include "engine/proof_table.hpp"
#include "engine/verify_range.hpp"
#include "server/result_check.hpp"
#include "server/request_body.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {
namespace {

using ojson = nlohmann::ordered_json;

UnitRange range_of(const char* begin, const char* end) {
    const EndBound e = parse_end_bound(end);
    return UnitRange{parse_u128(begin), e.value, e.end_is_2_128};
}

// The verdict of the checks the server runs on a complete's body when it recomputes:
// "accepted" or "rejected: " and the first flaw.
std::string verdict_of(const UnitRange& unit, const std::string& body) {
    std::string error;
    const auto doc = read_json_object(body, error);
    if (!doc) return "refused: " + error;
    const auto result = doc->find("result");
    if (result == doc->end() || !result->is_object()) return "refused: no result object";
    const StructureCheck structure = check_structure(unit, *result);
    if (!structure.passed) return "rejected: " + structure.reason;
    const std::string mismatch = checksum_mismatch(unit, structure.checksum_sum, structure.checksum_xor);
    return mismatch.empty() ? "accepted" : "rejected: " + mismatch;
}

// The body a worker sends for the unit after verifying it with the given backend.
std::string completed_body(const UnitRange& unit, const std::string& backend = "record-recursive") {
    BackendOptions options;
    options.name = backend;
    options.threads = 2;
    return "{\"result\":" + result_json(verify_range(unit, options)) + "}";
}

TEST(ResultCheck, RealRecordsAreAccepted) {
    const char* units[][2] = {
        {"4294967296", "4295032832"},                                      // 2^16 starts above 2^32
        {"18446744073709550592", "18446744073709552640"},                  // across 2^64
        {"340282366920938463463374607431768207360", "2^128"},             // up to 2^128
    };
    for (const auto& u : units) {
        const UnitRange unit = range_of(u[0], u[1]);
        EXPECT_EQ(verdict_of(unit, completed_body(unit)), "accepted") << u[0] << " .. " << u[1];
    }
}

TEST(ResultCheck, EveryFlawHasItsReason) {
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
        const std::string v = verdict_of(unit, body.dump());
        EXPECT_EQ(v.rfind(c.reason, 0), 0u) << c.what << ": got \"" << v << "\" for " << body.dump();
    }
}

TEST(ResultCheck, ResultsOfOtherStartsOrShapesAreRejected) {
    const UnitRange unit = range_of("4294967296", "4295032832");
    // The same number of starts one further on: only the checksums can tell.
    const UnitRange shifted = range_of("4294967297", "4295032833");
    const std::string moved = verdict_of(unit, completed_body(shifted));
    EXPECT_EQ(moved.rfind("rejected: checksum_sum is", 0), 0u) << moved;
    // A backend without the proof table leaves the hash empty.
    EXPECT_EQ(verdict_of(unit, completed_body(unit, "cpu-sieve")), "rejected: the result carries no proof hash");
    EXPECT_EQ(known_proof_schemes().front().hash, proof_table_hash());
}

}  // namespace
}  // namespace pelorin::server
