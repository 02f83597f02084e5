// The fault test's independent check, on small records: a sound run passes, and each kind of
// fault it exists to find is found.
#include <gtest/gtest.h>

#include <functional>

#include "server/unit_checksums.hpp"
#include "tests/server/load_checks.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server::test {
namespace {

std::string true_record(std::uint64_t begin, std::uint64_t end) {
    const ChecksumPair c = unit_checksums(UnitRange{parse_u128(std::to_string(begin)), parse_u128(std::to_string(end)), false});
    return "{\"checked\":\"" + std::to_string(end - begin) + "\",\"checksum_sum\":" + std::to_string(c.sum) +
           ",\"checksum_xor\":" + std::to_string(c.xor_) + "}";
}

LoadRecord rec(const char* call, const char* lease, const char* unit, double sent, double done,
               std::string reply = R"({"audit":"accepted"})", long status = 200) {
    LoadRecord r;
    r.call = call;
    r.lease_id = lease;
    r.begin = unit;
    r.sent_ms = sent;
    r.done_ms = done;
    r.status = status;
    r.reply = std::move(reply);
    return r;
}

// Two units of 4 starts; lease-1 holds [0, 4) until its complete, lease-2 holds [4, 8).
LoadCheckInput sound_run() {
    LoadCheckInput in;
    in.begin = 0;
    in.end = 8;
    in.unit_size = 4;
    in.lease_timeout_ms = 1000;
    in.exported = {{"0", "4", "w-1", true_record(0, 4)}, {"4", "8", "w-2", true_record(4, 8)}};
    in.records = {rec("acquire", "lease-1", "0", 0, 5), rec("acquire", "lease-2", "4", 10, 15),
                  rec("heartbeat", "lease-1", "0", 100, 105), rec("complete", "lease-1", "0", 200, 205),
                  rec("complete", "lease-2", "4", 300, 305)};
    in.validated_below = {"0", "4", "8"};
    return in;
}

TEST(LoadChecks, ASoundRunPassesAndEachFaultIsFound) {
    const std::vector<std::string> sound = check_load_run(sound_run());
    EXPECT_TRUE(sound.empty()) << sound.front();

    const struct {
        const char* fault;
        std::function<void(LoadCheckInput&)> spoil;
        const char* found;
    } cases[] = {
        {"a unit exported twice", [](LoadCheckInput& in) { in.exported.push_back(in.exported[0]); }, "validated twice"},
        {"a unit missing", [](LoadCheckInput& in) { in.exported.pop_back(); }, "[4, 8) was never validated"},
        {"a wrong record standing", [](LoadCheckInput& in) { in.exported[1].result = true_record(0, 4); },
         "a record its starts do not give"},
        {"a second lease granted while the first was live",
         [](LoadCheckInput& in) { in.records.push_back(rec("acquire", "lease-3", "0", 140, 150)); },
         "two live leases at once"},
        {"a late complete taken while another lease held the unit",
         [](LoadCheckInput& in) {
             in.records[2].status = 503;  // lease-1 was never prolonged: it ran out at 1000
             in.records[3].sent_ms = 1200;
             in.records[3].done_ms = 1210;
             in.records.push_back(rec("acquire", "lease-3", "0", 1100, 1110));
         },
         "was taken while lease-3 live"},
        {"a wrong record accepted", [](LoadCheckInput& in) { in.records[4].wrong = true; }, "wrong record of lease-2"},
        {"a duplicate complete answered differently",
         [](LoadCheckInput& in) {
             LoadRecord again = rec("complete", "lease-2", "4", 310, 312, R"({"audit":"pending"})");
             again.repeat = true;
             in.records.push_back(again);
         },
         "answered differently"},
        {"a 503 without Retry-After",
         [](LoadCheckInput& in) { in.records[2] = rec("heartbeat", "lease-1", "0", 100, 105, R"({"error":"x"})", 503); },
         "named no Retry-After"},
        {"the prefix moving back", [](LoadCheckInput& in) { in.validated_below = {"4", "0", "8"}; }, "moved back from 4 to 0"},
        {"the prefix short of the end", [](LoadCheckInput& in) { in.validated_below = {"0", "4"}; },
         "ends at 4, not at the campaign's end 8"},
    };
    for (const auto& c : cases) {
        LoadCheckInput in = sound_run();
        c.spoil(in);
        const std::vector<std::string> found = check_load_run(in);
        bool named = false;
        for (const std::string& f : found) named = named || f.find(c.found) != std::string::npos;
        EXPECT_TRUE(named) << c.fault << ": expected \"" << c.found << "\" among " << ::testing::PrintToString(found);
    }
}

TEST(LoadChecks, TheLinesOfBothFilesAreRead) {
    const ExportedUnit u = exported_unit_of(
        R"({"campaign":"c","begin":"0","end":"4","worker_id":"w-3","validated_at":"2026-12-10T14:00:31Z","result":{"checked":"4"}})");
    EXPECT_EQ(u.worker_id, "w-3");
    EXPECT_EQ(u.result, R"({"checked":"4"})");
    const LoadRecord r = load_record_of(
        R"({"worker":1,"behaviour":"duplicate","call":"complete","server":"127.0.0.1:1","sent_ms":1.5,"done_ms":2.5,)"
        R"("latency_ms":1.0,"status":200,"error":"","retry_after":null,"lease_id":"lease-7","begin":"4","end":"8",)"
        R"("repeat":true,"wrong":false,"reply":"{}"})");
    EXPECT_EQ(r.call, "complete");
    EXPECT_EQ(r.lease_id, "lease-7");
    EXPECT_TRUE(r.repeat);
    EXPECT_FALSE(r.retry_after);
    EXPECT_DOUBLE_EQ(r.done_ms, 2.5);
    EXPECT_THROW(load_record_of("{}"), std::runtime_error);
    EXPECT_THROW(exported_unit_of("not json"), std::runtime_error);
}

}  // namespace
}  // namespace pelorin::server::test
