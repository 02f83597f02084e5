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
         "rejected: checked is not the unit's number of starts"},
        {"no proof hash", [](ojson& r) { r["proof_hash"] = ""; }, "rejected: the result carries no proof hash"},
        {"another table", [](ojson& r) { r["proof_hash"] = std::string(64, 'f'); },
         "rejected: proof_hash names no proof table this server knows"},
        {"frontier accounting", [](ojson& r) { r["frontier_nodes"] = "3"; }, "rejected: survivor-frontier"},
        {"counters do not add up",
         [](ojson& r) {
             r["survivors_evaluated"] = std::to_string(std::stoull(r["survivors_evaluated"].get<std::string>()) + 1);
         },
         "rejected: proof_exclusions + survivors_evaluated is not checked"},
        {"invalid record", [](ojson& r) { r["valid"] = false; }, "rejected: the result reports a failed verification"},
        {"sum off by one", [](ojson& r) { r["checksum_sum"] = r["checksum_sum"].get<std::uint64_t>() + 1; },
         "rejected: checksum_sum does not match the unit's starts"},
        {"xor off by one bit", [](ojson& r) { r["checksum_xor"] = r["checksum_xor"].get<std::uint64_t>() ^ 1; },
         "rejected: checksum_xor does not match the unit's starts"},
        {"more exclusions than starts", [](ojson& r) { r["proof_exclusions"] = "2049"; },
         "rejected: proof_exclusions exceeds the unit's number of starts"},
        {"a width's completions beyond the starts", [](ojson& r) { r["u128_completions"] = "18446744073709551616"; },
         "rejected: u128_completions exceeds the unit's number of starts"},
        {"steps no walk could take", [](ojson& r) { r["steps"] = std::to_string(2048ull * 100'000 + 1); },
         "rejected: steps exceeds what the unit's starts can take"},
        {"the most steps allowed", [](ojson& r) { r["steps"] = std::to_string(2048ull * 100'000); }, "accepted"},
        {"a negative time", [](ojson& r) { r["elapsed_seconds"] = -1e300; },
         "rejected: elapsed_seconds is not a finite number of seconds of at least 0"},
        {"kernel time negative zero", [](ojson& r) { r["kernel_seconds"] = -0.0; }, "accepted"},
        {"a transfer time as text", [](ojson& r) { r["transfer_seconds"] = "0"; },
         "rejected: transfer_seconds is not a finite number of seconds of at least 0"},
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

TEST(ResultCheck, OnlyTheRecordsMembersInItsOrderAreKept) {
    const UnitRange unit = range_of("4294967296", "4295032832");
    const std::string body = completed_body(unit);
    const std::string record = body.substr(10, body.size() - 11);  // as the worker wrote it
    const ojson honest = ojson::parse(record);
    EXPECT_FALSE(foreign_member(honest)) << record;
    // The worker's own text comes back byte for byte, so an export of it is the record sent.
    EXPECT_EQ(normalised_record(honest).dump(), record);

    // Members a worker added are named, and dropped; the order is the record's again.
    ojson padded = ojson::object();
    padded["message"] = "hello";
    for (auto it = honest.items().begin(); it != honest.items().end(); ++it) padded[it.key()] = it.value();
    padded["begin"] = "0";
    padded["elapsed_seconds"] = -1e300;
    ASSERT_EQ(foreign_member(padded), "message") << padded.dump();
    EXPECT_EQ(foreign_member(ojson{{"checked", "1"}, {std::string(300, 'x'), 1}}), std::string(64, 'x') + "...");
    ojson expected = honest;
    expected["elapsed_seconds"] = -1e300;
    EXPECT_EQ(normalised_record(padded).dump(), expected.dump());
    ojson reversed = ojson::object();
    const auto& members = result_record_members();
    for (auto key = members.rbegin(); key != members.rend(); ++key) reversed[*key] = honest.at(*key);
    EXPECT_EQ(normalised_record(reversed).dump(), record) << reversed.dump();
}

TEST(ResultCheck, ResultsOfOtherStartsOrShapesAreRejected) {
    const UnitRange unit = range_of("4294967296", "4295032832");
    // The same number of starts one further on: only the checksums can tell.
    const UnitRange shifted = range_of("4294967297", "4295032833");
    const std::string moved = verdict_of(unit, completed_body(shifted));
    EXPECT_EQ(moved, "rejected: checksum_sum does not match the unit's starts");
    // A backend without the proof table leaves the hash empty.
    EXPECT_EQ(verdict_of(unit, completed_body(unit, "cpu-sieve")), "rejected: the result carries no proof hash");
    EXPECT_EQ(known_proof_schemes().front().hash, proof_table_hash());
}

}  // namespace
}  // namespace pelorin::server
