#include "server/policy_flags.hpp"

#include <cmath>
#include <string>

#include "server/limits.hpp"

namespace pelorin::server {
namespace {

std::string budget_text(double cores) {
    if (cores < 0) return "all";
    std::string s = std::to_string(cores);
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

void add_policy_flags(CLI::App& app, ServerPolicy& policy) {
    app.add_option_function<double>(
           "--lease-timeout",
           [&policy](double seconds) { policy.lease_timeout_ms = static_cast<std::int64_t>(std::llround(seconds * 1000)); },
           "Seconds without a heartbeat after which a lease goes back to the pool")
        ->check(CLI::Range(0.05, 86400.0 * 30))
        ->type_name("SECONDS")
        ->default_str(std::to_string(policy.lease_timeout_ms / 1000));
    app.add_option_function<std::string>(
           "--lease-max-age",
           [&policy](const std::string& text) {
               policy.lease_max_age_ms = text == "adaptive" ? 0 : static_cast<std::int64_t>(std::llround(std::stod(text) * 3'600'000));
           },
           "Hours after which a leased unit is also handed to another worker while the first may still complete it, "
           "or \"adaptive\": four times the unit's time at the worker's rate, from a day to 30 days")
        ->check([](const std::string& text) -> std::string {
            if (text == "adaptive") return {};
            try {
                std::size_t used = 0;
                const double v = std::stod(text, &used);
                if (used == text.size() && v >= 0.0001 && v <= 24.0 * 365) return {};
            } catch (const std::exception&) {
            }
            return "the lease's maximum age is a number of hours up to a year, or adaptive";
        })
        ->type_name("HOURS|adaptive")
        ->default_str("adaptive");
    app.add_option("--difficulty-bits", policy.difficulty_bits, "Leading zero bits the registration puzzle asks for")
        ->check(CLI::Range(0u, kMaxDifficultyBits))
        ->type_name("BITS")
        ->capture_default_str();
    app.add_option_function<std::string>(
           "--recompute-budget",
           [&policy](const std::string& text) {
               policy.trust.recompute_budget_cores = text == "all" ? -1.0 : std::stod(text);
           },
           "Cores' worth of checksum recomputation of results, or \"all\" to recompute every result")
        ->check([](const std::string& text) -> std::string {
            if (text == "all") return {};
            try {
                std::size_t used = 0;
                const double v = std::stod(text, &used);
                if (used == text.size() && v >= 0 && v <= 1024) return {};
            } catch (const std::exception&) {
            }
            return "the recompute budget is a number of cores from 0 to 1024, or all";
        })
        ->type_name("CORES|all")
        ->default_str(budget_text(policy.trust.recompute_budget_cores));
    app.add_option("--new-worker-results", policy.trust.new_worker_results,
                   "Every result of a worker is copied by another worker until it has this many validated since its "
                   "last fault (0: none)")
        ->check(CLI::Range(0u, 1'000'000u))
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--replication-share", policy.trust.replication_share,
                   "Share of the other results copied by a second worker, drawn at random (0 to 1)")
        ->check(CLI::Range(0.0, 1.0))
        ->type_name("SHARE")
        ->capture_default_str();
    app.add_option("--fast-result-slack", policy.trust.fast_result_slack,
                   "A result that comes more than this many times faster than its worker's benchmark allows is copied "
                   "by another worker (0: never)")
        ->check(CLI::Range(0.0, 1000.0))
        ->type_name("FACTOR")
        ->capture_default_str();
    app.add_option("--set-aside-after", policy.trust.set_aside_after,
                   "Refused results (or disagreeing copies) after which a unit is set aside")
        ->check(CLI::Range(1u, 1000u))
        ->type_name("N")
        ->capture_default_str();
    app.add_option_function<std::string>(
           "--copy-networks",
           [&policy](const std::string& text) { parse_network_prefixes(text, policy.trust.networks); },
           "Prefix lengths (IPv4,IPv6) of the networks whose workers never copy each other's results, or \"off\" when "
           "every worker is the operator's own")
        ->check([](const std::string& text) -> std::string {
            NetworkPrefixes p;
            return parse_network_prefixes(text, p) ? "" : "the copy networks are IPV4BITS,IPV6BITS (0-32,0-128), or off";
        })
        ->type_name("V4,V6|off")
        ->default_str(network_prefixes_text(policy.trust.networks));
    app.add_option("--register-rate", policy.register_per_minute,
                   "Registration requests per minute from one address (0: no limit)")
        ->check(CLI::Range(0.0, 1e6))
        ->type_name("PER-MINUTE")
        ->capture_default_str();
    app.add_option("--worker-rate", policy.worker_per_minute,
                   "Requests per minute from one worker, completions not counted (0: no limit)")
        ->check(CLI::Range(0.0, 1e6))
        ->type_name("PER-MINUTE")
        ->capture_default_str();
    app.add_option("--max-body-bytes", policy.max_body_bytes, "Largest request body; larger ones get 413")
        ->check(CLI::Range(std::size_t{1024}, std::size_t{1} << 26))
        ->type_name("BYTES")
        ->capture_default_str();
    app.add_option("--read-timeout", policy.read_timeout_seconds,
                   "Seconds a connection may wait for the client to send or take data")
        ->check(CLI::Range(1, 3600))
        ->type_name("SECONDS")
        ->capture_default_str();
    app.add_option("--connection-deadline", policy.connection_deadline_seconds,
                   "Seconds after which any connection is cut, however busy (0: never)")
        ->check(CLI::Range(0, 86400))
        ->type_name("SECONDS")
        ->capture_default_str();
    app.add_option("--threads", policy.threads, "Connections served at once")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1024}))
        ->type_name("N")
        ->capture_default_str();
}

}  // namespace pelorin::server
