// The stats endpoints that the public page reads, on a real SQLite database: a table of
// campaigns (empty, finished, 2^128 starts, the last unit set aside) whose figures must be exact
// decimal strings, and a table of query parameters that get 400 with {"error":...}.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <iterator>

#include "scoped_env.hpp"
#include "server/api.hpp"
#include "server/store/sqlite_store.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {
namespace {

using nlohmann::json;

// A fresh database with one campaign, and the API over it.
class Fixture {
public:
    Fixture(const std::string& begin, const std::string& end, std::uint64_t unit_size)
        : store_(dir_.path() / "coordinator.db", -1), api_(store_, production_policy(), metrics_) {
        const EndBound e = parse_end_bound(end);
        store_.add_campaign(CampaignDefinition{"c", UnitRange{parse_u128(begin), e.value, e.end_is_2_128}, unit_size});
        store_.add_challenge(Challenge{"x", "n", 1}, 60'000, 10);
        Registration r;
        r.challenge_id = "x";
        r.token_hash = "h";
        worker_ = *store_.register_worker(r);
    }

    // The worker leases a unit and returns a result that passed the checks, or failed them.
    void complete(bool passed) {
        const ClaimOutcome l = store_.claim_unit(ClaimRequest{worker_, 1e6, "p", 60'000});
        ASSERT_EQ(l.kind, ClaimOutcome::Kind::granted);
        Submission s;
        s.worker_id = worker_;
        s.lease_id = l.lease_id;
        s.body = s.record = s.comparable = "{}";
        s.passed = passed;
        s.reason = passed ? "" : "checksum_sum is wrong";
        store_.submit_result(s);
    }

    ApiReply get(const std::string& path, const QueryParams& query = {}, const std::string& if_none_match = "") {
        ApiRequest request;
        request.if_none_match = if_none_match;
        request.method = "GET";
        request.path = path;
        request.address = "127.0.0.1";
        request.query = query;
        return api_.handle(request);
    }
    json get_json(const std::string& path, const QueryParams& query = {}) {
        const ApiReply reply = get(path, query);
        EXPECT_EQ(reply.status, 200) << path << ": " << reply.body;
        return json::parse(reply.body);
    }
    const std::string& worker() const { return worker_; }

private:
    test::TempDir dir_;
    SqliteStore store_;
    Metrics metrics_;
    Api api_;
    std::string worker_;
};

// Every count of starts in the JSON is a string of digits.
void expect_decimal_strings(const json& doc, const std::string& where) {
    if (doc.is_object() || doc.is_array()) {
        for (auto it = doc.begin(); it != doc.end(); ++it)
            expect_decimal_strings(*it, where + (doc.is_object() ? "." + it.key() : "[]"));
        return;
    }
    const bool starts = where.find("starts") != std::string::npos && where.find("per_second") == std::string::npos;
    if (starts || where.ends_with(".begin") || where.ends_with(".end") || where.ends_with("validated_below") ||
        where.ends_with("units_total") || where.ends_with("unit_size")) {
        EXPECT_TRUE(doc.is_string() && !doc.get<std::string>().empty() &&
                    doc.get<std::string>().find_first_not_of("0123456789") == std::string::npos)
            << where << " is " << doc.dump();
    }
}

TEST(StatsEndpoints, CampaignFiguresAreExactAtEveryWidth) {
    constexpr const char* k2To128 = "340282366920938463463374607431768211456";
    const struct Case {
        const char* what;
        const char* begin;
        const char* end;
        std::uint64_t unit_size;
        std::function<void(Fixture&)> make;
        // The summary's figures.
        const char* units_total;
        const char* starts_total;
        const char* validated;
        const char* set_aside;
        const char* open;
        double share_validated;
        const char* validated_below;
        const char* seconds_left;  // "null", "0" or "> 0"
        // The campaign's activity: the worker's starts (empty: no top worker) and the latest
        // units listed.
        const char* top_starts;
        std::size_t latest_units;
    } cases[] = {
        {"an empty campaign", "1000", "6000", 1000, [](Fixture&) {}, "5", "5000", "0", "0", "5000", 0, "1000", "null", "",
         0},
        {"a finished campaign with a shorter last unit", "0", "2500", 1000,
         [](Fixture& f) {
             for (int i = 0; i < 3; ++i) f.complete(true);
         },
         "3", "2500", "2500", "0", "0", 1, "2500", "0", "2500", 3},
        {"2^128 starts, two units of 2^63 validated", "0", "2^128", std::uint64_t{1} << 63,
         [](Fixture& f) {
             f.complete(true);
             f.complete(true);
         },
         "36893488147419103232", k2To128, "18446744073709551616", "0", "340282366920938463444927863358058659840",
         5.421010862427522e-20, "18446744073709551616", "> 0", "18446744073709551616", 2},
        {"one unit validated, the last set aside by an established worker", "0", "2000", 1000,
         [](Fixture& f) {
             f.complete(true);
             for (int i = 0; i < 3; ++i) f.complete(false);
         },
         "2", "2000", "1000", "1000", "0", 0.5, "1000", "> 0", "1000", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(c.begin, c.end, c.unit_size);
        c.make(f);

        const json summary = f.get_json("/api/v1/stats/summary");
        expect_decimal_strings(summary, "summary");
        ASSERT_EQ(summary.at("campaigns").size(), 1u) << summary.dump();
        const json& s = summary["campaigns"][0];
        EXPECT_EQ(s.at("units_total"), c.units_total);
        EXPECT_EQ(s.at("starts_total"), c.starts_total);
        EXPECT_EQ(s.at("starts_validated"), c.validated);
        EXPECT_EQ(s.at("starts").at("validated"), c.validated);
        EXPECT_EQ(s.at("starts").at("set_aside"), c.set_aside);
        EXPECT_EQ(s.at("starts").at("open"), c.open);
        EXPECT_EQ(s.at("starts").at("leased"), "0");
        EXPECT_EQ(s.at("starts").at("pending"), "0");
        EXPECT_DOUBLE_EQ(s.at("share_validated").get<double>(), c.share_validated);
        EXPECT_EQ(s.at("validated_below"), c.validated_below);
        const json& left = s.at("seconds_left");
        const std::string left_kind = left.is_null() ? "null" : left.get<double>() == 0 ? "0" : "> 0";
        EXPECT_EQ(left_kind, c.seconds_left) << left.dump();

        const json activity = f.get_json("/api/v1/stats/campaign", {{"campaign", "c"}});
        expect_decimal_strings(activity, "campaign");
        EXPECT_EQ(activity.at("hours").size(), 168u) << "a week of hours, the empty ones too";
        const json& top = activity.at("top_workers");
        if (*c.top_starts == '\0') {
            EXPECT_TRUE(top.empty()) << top.dump();
        } else {
            ASSERT_EQ(top.size(), 1u) << top.dump();
            EXPECT_EQ(top[0].at("worker_id"), f.worker());
            EXPECT_EQ(top[0].at("starts_validated"), c.top_starts);
        }
        EXPECT_EQ(activity.at("latest_units").size(), c.latest_units);
        // The hours hold what was validated: within this run, one hour (or two across a
        // change of hour), adding up to the starts validated.
        std::vector<std::string> busy;
        for (const json& h : activity["hours"])
            if (h.at("starts_validated") != "0") busy.push_back(h["starts_validated"]);
        if (busy.size() == 1) {
            EXPECT_EQ(busy[0], c.validated);
        } else {
            EXPECT_LE(busy.size(), 2u);
        }

        const json op = f.get_json("/api/v1/stats/operator");
        EXPECT_EQ(op.at("set_aside").at("total"), std::string(c.set_aside) == "0" ? 0 : 1) << op.dump();
    }
}

TEST(StatsEndpoints, MalformedOrOutOfRangeParametersGet400) {
    Fixture f("0", "1000", 1000);
    const std::string long_name(257, 'c');
    const struct {
        const char* path;
        QueryParams query;
        const char* error;
    } cases[] = {
        {"/api/v1/stats/summary", {{"campaign", "c"}}, "unknown query parameter campaign"},
        {"/api/v1/stats/campaign", {}, "query parameter campaign is required"},
        {"/api/v1/stats/campaign", {{"campaign", ""}}, "query parameter campaign is required"},
        {"/api/v1/stats/campaign", {{"campaign", long_name}}, "query parameter campaign is longer than 256 bytes"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"campaign", "d"}},
         "query parameter campaign is given more than once"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "0"}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "169"}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "-1"}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "1e2"}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", ""}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "99999999999999999999"}},
         "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"top", "101"}},
         "query parameter top must be a whole number from 1 to 100"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"latest", " 5"}},
         "query parameter latest must be a whole number from 1 to 100"},
        {"/api/v1/stats/campaign", {{"campaign", "c"}, {"Hours", "5"}}, "unknown query parameter Hours"},
        {"/api/v1/stats/operator", {{"limit", "501"}}, "query parameter limit must be a whole number from 1 to 500"},
        {"/api/v1/stats/operator", {{"hours", "0"}}, "query parameter hours must be a whole number from 1 to 168"},
        {"/api/v1/stats/operator", {{"x\n\x01", "1"}}, "unknown query parameter x??"},
    };
    for (const auto& c : cases) {
        std::string shown = c.path;
        for (const auto& [name, value] : c.query) shown += " " + name + "=" + value.substr(0, 20);
        const ApiReply reply = f.get(c.path, c.query);
        EXPECT_EQ(reply.status, 400) << shown << ": " << reply.body;
        EXPECT_EQ(reply.body, json({{"error", c.error}}).dump()) << shown;
    }
    // Parameters within range are answered; an unknown campaign is 404, not 400.
    EXPECT_EQ(f.get("/api/v1/stats/campaign", {{"campaign", "c"}, {"hours", "168"}, {"top", "1"}, {"latest", "100"}}).status,
              200);
    const ApiReply unknown = f.get("/api/v1/stats/campaign", {{"campaign", "nope"}});
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, R"({"error":"no campaign named nope"})");
}

TEST(StatsEndpoints, ThePageIsEmbeddedWithChartJsAndRevalidatedByItsETag) {
    Fixture f("0", "1000", 1000);
    const ApiReply page = f.get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("/assets/page.js"), std::string::npos);
    std::ifstream file(PELORIN_CHART_JS, std::ios::binary);
    const std::string chart((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const ApiReply served = f.get("/assets/chart.js");
    EXPECT_EQ(served.status, 200);
    EXPECT_TRUE(served.body == chart) << "the embedded Chart.js differs from " << PELORIN_CHART_JS;
    EXPECT_EQ(f.get("/assets/none.js").status, 404);
    EXPECT_EQ(f.get("/assets/").status, 404);

    std::string etag, policy;
    for (const auto& [name, value] : page.headers) {
        if (name == "ETag") etag = value;
        if (name == "Content-Security-Policy") policy = value;
    }
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
    ASSERT_FALSE(etag.empty());
    const ApiReply unchanged = f.get("/", {}, etag);
    EXPECT_EQ(unchanged.status, 304);
    EXPECT_TRUE(unchanged.body.empty());
    EXPECT_EQ(f.get("/", {}, "\"other\"").status, 200);
}

}  // namespace
}  // namespace pelorin::server
