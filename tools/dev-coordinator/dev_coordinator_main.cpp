// pelorin-dev-coordinator: the campaign server with development defaults, on loopback, with
// its own certificate authority, the scripted faults and the control endpoint.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "server/api.hpp"
#include "server/certificate_store.hpp"
#include "server/command_status.hpp"
#include "server/https_listener.hpp"
#include "server/metered_store.hpp"
#include "server/operator_commands.hpp"
#include "server/policy_flags.hpp"
#include "server/request_journal.hpp"
#include "server/signal_thread.hpp"
#include "server/store/sqlite_store.hpp"
#include "tools/dev-coordinator/dev_handler.hpp"
#include "tools/dev-coordinator/ledger_view.hpp"
#include "tools/dev-coordinator/tls_material.hpp"
#include "wideint/decimal.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::devcoord;

constexpr const char* kDatabaseFile = "coordinator.db";
constexpr const char* kCampaignName = "dev";

struct Arguments {
    int port = 8443;
    std::string state_dir = "dev-coordinator-state";
    // Sixteen units of 2^32 starts above 2^32: a few seconds of work each on a desktop.
    std::string begin = "2^32";
    std::string end = "73014444032";
    std::string unit_size = "2^32";
    bool summary = false;
    bool replication = false;
    bool journal = false;
    server::ServerPolicy policy = server::development_policy();
};

std::string range_text(const UnitRange& r) {
    return "[" + u128_to_decimal(r.begin) + ", " + end_to_decimal(r.end, r.end_is_2_128) + ")";
}

bool same_range(const UnitRange& a, const UnitRange& b) {
    return a.begin == b.begin && a.end_is_2_128 == b.end_is_2_128 && (a.end_is_2_128 || a.end == b.end);
}

int print_summary(const std::filesystem::path& state_dir) {
    const std::filesystem::path file = state_dir / kDatabaseFile;
    if (!std::filesystem::exists(file)) {
        std::cerr << "no coordinator database in " << std::filesystem::absolute(state_dir).string() << '\n';
        return 1;
    }
    server::SqliteStore store(file);
    std::cout << ledger_summary(store.snapshot()) << std::flush;
    return 0;
}

// The development campaign: made on the first start; on a restart the stored one holds, and
// one given explicitly must match it.
void ensure_campaign(server::Store& store, const Arguments& args, bool campaign_explicit) {
    const server::CampaignDefinition definition = server::campaign_definition(kCampaignName, args.begin, args.end, args.unit_size);

    const std::vector<server::CampaignDefinition> stored = store.campaigns();
    if (stored.empty()) {
        store.add_campaign(definition);
        return;
    }
    const server::CampaignDefinition& have = stored.front();
    if (campaign_explicit && (!same_range(have.range, definition.range) || have.unit_size != definition.unit_size))
        throw std::runtime_error("the state folder holds the campaign " + range_text(have.range) + " in units of " +
                                 std::to_string(have.unit_size) +
                                 " starts; give the same --begin, --end and --unit-size or another --state-dir");
}

int serve(const Arguments& args, bool campaign_explicit) {
    const std::filesystem::path state_dir = std::filesystem::absolute(args.state_dir);
    std::filesystem::create_directories(state_dir);
    // Tokens' hashes, keys and results live here: the owner only.
    std::filesystem::permissions(state_dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);

    server::SqliteStore store(state_dir / kDatabaseFile);
    ensure_campaign(store, args, campaign_explicit);
    const TlsFiles tls = ensure_tls_material(state_dir);
    std::cout << "CA certificate: " << tls.ca_certificate.string() << std::endl;

    server::CertificateStore certificates(tls.server_certificate, tls.server_key);
    // The server's page and metrics come along: /metrics counts what the tests send.
    server::Metrics metrics;
    server::MeteredStore metered(store, metrics);
    server::Api api(metered, args.policy, metrics);
    DevHandler dev(api, store);
    server::RequestJournal journal(std::cerr);
    // Before the listener's threads start; destroyed after the listener it stops.
    server::SignalThread signals;
    server::HttpsListener listener(
        certificates, args.policy, [&dev](const auto& req, auto& res) { return dev.handle(req, res); },
        [&](const server::RequestRecord& r) {
            if (args.journal) journal.write(r);
            metrics.count_request(server::route_label(r.path), r.status, r.milliseconds / 1000);
        });
    const int port = listener.bind(server::ListenAddress{"127.0.0.1", args.port});
    // Results too large to recompute at once under a budget given with --recompute-budget.
    api.start_recomputation();
    std::cout << "Listening on https://127.0.0.1:" << port << std::endl;
    // Stalled replies end first, so that the listener's stop does not wait for them.
    signals.start([&] {
        dev.stop();
        listener.stop();
    });
    if (!listener.run()) throw std::runtime_error("the listener on 127.0.0.1:" + std::to_string(port) + " failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The campaign server with development defaults, on loopback, for development and tests"};
    Arguments args;
    app.add_option("--port", args.port, "Port on 127.0.0.1; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--state-dir", args.state_dir, "Folder of the database and the certificates")->capture_default_str();
    auto* begin = app.add_option("--begin", args.begin, "First start of the campaign (decimal, 0x hex or 2^k)")
                      ->capture_default_str();
    auto* end = app.add_option("--end", args.end, "Exclusive end of the campaign (as --begin, or 2^128)")
                    ->capture_default_str();
    auto* unit = app.add_option("--unit-size", args.unit_size, "Starts per unit (at most 2^64 - 1)")
                     ->capture_default_str();
    app.add_flag("--summary", args.summary, "Print the campaign of --state-dir and exit");
    app.add_flag("--replication", args.replication,
                 "Copy results as the campaign server does (new workers, a random share, fast results)");
    app.add_flag("--journal", args.journal, "Write one line per request on standard error");
    server::add_policy_flags(app, args.policy);
    app.footer(
        "Prints \"CA certificate: <path>\" and \"Listening on https://127.0.0.1:<port>\" once ready.\n"
        "Exit status: 0 stopped by a signal, 1 failure, 2 bad arguments.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (args.replication) {
        // The campaign server's rules, where no flag of the same name said otherwise.
        const server::TrustPolicy served = server::production_policy().trust;
        if (app.get_option("--new-worker-results")->count() == 0)
            args.policy.trust.new_worker_results = served.new_worker_results;
        if (app.get_option("--replication-share")->count() == 0)
            args.policy.trust.replication_share = served.replication_share;
        if (app.get_option("--fast-result-slack")->count() == 0)
            args.policy.trust.fast_result_slack = served.fast_result_slack;
    }
    // Errors carry their own message; bad input is status 2, anything else 1.
    return server::run_reporting_errors([&] {
        if (args.summary) return print_summary(args.state_dir);
        const bool campaign_explicit = begin->count() + end->count() + unit->count() > 0;
        return serve(args, campaign_explicit);
    });
}
