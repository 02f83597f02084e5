// /metrics of a real pelorin-coordinator, scraped over plain HTTP on its --metrics-listen port
// and over TLS on the main port without it, and read by Debian's Prometheus parser
// (metrics_scrape.py): the families and their types, counters that move with the requests
// made between two scrapes, and gauges equal to `status --json`.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

constexpr const char* kPrefix = "pelorin_coordinator_";

// The samples of one scrape, by "name{labels}" as metrics_scrape.py writes them.
struct Scrape {
    json doc;
    double operator[](const std::string& sample) const {
        const json& samples = doc.at("samples");
        const auto it = samples.find(kPrefix + sample);
        return it == samples.end() ? 0 : it->get<double>();
    }
    bool has(const std::string& sample) const { return doc.at("samples").contains(kPrefix + sample); }
};

Scrape scrape(const CoordinatorProcess& c, const std::string& url, const std::string& ca = "") {
    std::vector<std::string> argv = {"/usr/bin/python3", PELORIN_METRICS_SCRAPE_SCRIPT, url};
    if (!ca.empty()) argv.insert(argv.end(), {"--ca", ca});
    const CommandResult run = run_program(argv, c.folder() / "command.out", c.folder() / "command.err");
    EXPECT_EQ(run.status, 0) << url << ": " << run.out << run.err;
    return Scrape{run.status == 0 ? json::parse(run.out) : json{{"samples", json::object()}}};
}

// The URL serve prints: "Metrics on http://127.0.0.1:PORT/metrics".
std::string metrics_url(const CoordinatorProcess& c) {
    const std::string out = c.output();
    const std::string mark = "Metrics on http://127.0.0.1:";
    const std::size_t at = out.find(mark);
    if (at == std::string::npos) throw std::runtime_error("no metrics address in: " + out);
    return "http://127.0.0.1:" + out.substr(at + mark.size(), out.find('\n', at) - at - mark.size());
}

TEST(Metrics, TheExpositionParsesAndItsCountersMoveWithRequests) {
    CoordinatorProcess c;
    ASSERT_EQ(c.command({"campaign", "add", "--begin", "2^32", "--end", "4295098368", "--unit-size", "2^16", "--name",
                         "main"})
                  .status,
              0);
    // Two registration requests a minute: one registration, then a 429.
    c.serve({"--metrics-listen", "127.0.0.1:0", "--difficulty-bits", "4", "--register-rate", "2", "--new-worker-results",
             "0", "--replication-share", "0", "--fast-result-slack", "0"});
    const std::string url = metrics_url(c);
    const Scrape before = scrape(c, url);
    EXPECT_EQ(before.doc.value("content_type", ""), "text/plain; version=0.0.4; charset=utf-8");
    // The parser names counters without their _total.
    const json& families = before.doc.at("families");
    for (const auto& [family, type] :
         std::vector<std::pair<std::string, std::string>>{{"http_requests", "counter"},
                                                          {"http_request_duration_seconds", "histogram"},
                                                          {"units", "gauge"},
                                                          {"live_leases", "gauge"},
                                                          {"results", "counter"},
                                                          {"replication_mismatches", "counter"},
                                                          {"registrations", "counter"},
                                                          {"rate_limited_requests", "counter"},
                                                          {"database_duration_seconds", "histogram"},
                                                          {"database_errors", "counter"},
                                                          {"database_up", "gauge"}})
        EXPECT_EQ(families.value(kPrefix + family, "(none)"), type) << family << " in " << families.dump();
    EXPECT_EQ(before["database_up{}"], 1);

    EXPECT_EQ(c.call("GET", "/healthz").status, 200);
    const TestWorker w = register_test_worker(c, "a");
    EXPECT_EQ(c.call("GET", "/api/v1/register/challenge").status, 429);
    const HttpsReply lease =
        c.call("POST", "/api/v1/leases/acquire", R"({"starts_per_second":1e+06,"proof_hash":"h"})", w.token);
    ASSERT_EQ(lease.status, 200) << lease.body;
    const json l = json::parse(lease.body);
    const HttpsReply done = c.call("POST", "/api/v1/leases/" + l.value("lease_id", "") + "/complete",
                                   verified_body(l.value("begin", ""), l.value("end", "")), w.token);
    EXPECT_EQ(json::parse(done.body).value("audit", ""), "accepted") << done.body;
    ASSERT_EQ(c.call("POST", "/api/v1/leases/acquire", R"({"starts_per_second":1e+06,"proof_hash":"h"})", w.token).status,
              200);
    // The stats endpoints' bad parameters over the wire: a parameter given twice stays twice.
    EXPECT_EQ(c.call("GET", "/api/v1/stats/campaign?campaign=main&hours=1&hours=2").body,
              R"({"error":"query parameter hours is given more than once"})");
    EXPECT_EQ(c.call("GET", "/api/v1/stats/campaign?campaign=main&hours=0").status, 400);
    EXPECT_EQ(c.call("GET", "/api/v1/stats/campaign?campaign=m%61in").status, 200) << "parameters are decoded";
    EXPECT_EQ(c.call("GET", "/metrics").status, 404) << "with --metrics-listen, not on the main port";

    const Scrape after = scrape(c, url);
    const struct {
        std::string sample;
        double moved;
    } counters[] = {
        {R"(http_requests_total{endpoint="/healthz",status="200"})", 1},
        {R"(http_request_duration_seconds_count{endpoint="/healthz"})", 1},
        {R"(http_requests_total{endpoint="/api/v1/register/challenge",status="429"})", 1},
        {R"(http_requests_total{endpoint="/api/v1/stats/campaign",status="400"})", 2},
        {R"(http_requests_total{endpoint="/metrics",status="404"})", 1},
        {R"(http_requests_total{endpoint="/metrics",status="200"})", 1},  // the first scrape
        {R"(rate_limited_requests_total{limit="registration"})", 1},
        {R"(rate_limited_requests_total{limit="worker"})", 0},
        {"registrations_total{}", 1},
        {R"(results_total{verdict="accepted"})", 1},
        {R"(results_total{verdict="rejected"})", 0},
        {"replication_mismatches_total{}", 0},
        {R"(database_duration_seconds_count{operation="submit_result"})", 1},
    };
    for (const auto& [sample, moved] : counters)
        EXPECT_EQ(after[sample] - before[sample], moved) << sample << ": " << before[sample] << " then " << after[sample];
    EXPECT_TRUE(after.has(R"(results_total{verdict="set_aside"})")) << "every verdict is written from the start";
    EXPECT_GT(after[R"(http_request_duration_seconds_sum{endpoint="/metrics"})"], 0) << "the metrics port times its requests";

    // The histogram's buckets add up: never fewer below a higher bound, all of them at +Inf.
    double below = 0;
    for (const char* le : {"0.001", "0.01", "0.1", "1", "10", "+Inf"}) {
        const double n = after[std::string(R"(http_request_duration_seconds_bucket{endpoint="/healthz",le=")") + le + "\"}"];
        EXPECT_GE(n, below) << "le=" << le;
        below = n;
    }
    EXPECT_EQ(below, after[R"(http_request_duration_seconds_count{endpoint="/healthz"})"]);

    // The gauges are the store's: units by state as status --json counts them.
    const json status = json::parse(c.command({"status", "--json"}).out);
    const json& units = status.at("campaigns").at(0).at("units");
    for (const char* state : {"open", "leased", "pending", "validated", "set_aside"})
        EXPECT_EQ(after[std::string(R"(units{campaign="main",state=")") + state + "\"}"], units.at(state).get<double>())
            << state;
    EXPECT_EQ(after["live_leases{}"], 1);
    EXPECT_EQ(c.stop(), 0);

    // Without --metrics-listen, /metrics is on the main port, under its TLS.
    CoordinatorProcess main_port;
    main_port.serve();
    EXPECT_EQ(main_port.call("GET", "/healthz").status, 200);
    const Scrape tls = scrape(main_port, "https://127.0.0.1:" + std::to_string(main_port.port()) + "/metrics",
                              main_port.ca_file().string());
    EXPECT_EQ(tls[R"(http_requests_total{endpoint="/healthz",status="200"})"], 1);
    EXPECT_EQ(tls["database_up{}"], 1);
}

}  // namespace
}  // namespace pelorin::test_support
