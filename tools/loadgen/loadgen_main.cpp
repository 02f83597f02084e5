// pelorin-loadgen: simulated workers against one or more campaign servers, over real TLS.
#include <CLI/CLI.hpp>

#include <iostream>
#include <stdexcept>

#include "tools/loadgen/load_run.hpp"

int main(int argc, char** argv) {
    using namespace pelorin::loadgen;
    CLI::App app{"Simulated workers against campaign servers: registration, leases, heartbeats and completes over "
                 "TLS, a new connection per request; prints requests per second and latencies per call",
                 "pelorin-loadgen"};
    LoadOptions o;
    std::string mix = "honest=1";
    double heartbeat = o.heartbeat.count(), work = o.work.count(), retry_wait = o.retry_wait.count();
    double lease_timeout = o.lease_timeout.count(), ramp = o.ramp.count(), duration = o.duration.count();
    double warmup = 0;
    app.add_option("--server", o.servers, "HOST:PORT of a server instance; repeat it for several")->required();
    app.add_option("--ca-file", o.ca_file, "PEM file of the authority the servers' certificates come from")
        ->required()
        ->check(CLI::ExistingFile);
    app.add_option("--workers", o.workers, "Simulated workers")->check(CLI::Range(1, 1'000'000))->capture_default_str();
    app.add_option("--mix", mix,
                   "Shares of behaviours: honest, wrong (a wrong checksum), vanishing (stops mid-unit), duplicate "
                   "(completes twice), slow (completes after the lease time-out); e.g. honest=0.6,wrong=0.1,slow=0.3")
        ->capture_default_str();
    app.add_option("--heartbeat", heartbeat, "Seconds between heartbeats, as the worker sends them")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--work", work, "Seconds a simulated worker spends on a unit")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--retry-wait", retry_wait, "Seconds to wait after a failure whose reply names no Retry-After")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--time-scale", o.time_scale,
                   "Multiplies --heartbeat, --work, --retry-wait and every Retry-After (0.05 runs 20 times faster)")
        ->check(CLI::Range(1e-4, 100.0))
        ->capture_default_str();
    app.add_option("--lease-timeout", lease_timeout, "The servers' lease time-out in seconds (not scaled)")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--ramp", ramp, "Seconds over which the workers start")->check(CLI::NonNegativeNumber)->capture_default_str();
    app.add_option("--duration", duration, "Seconds after which the run stops, if its workers are not done before")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--warmup", warmup, "Seconds from the start whose requests the figures leave out")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--max-in-flight", o.max_in_flight, "Connections open at once")
        ->check(CLI::Range(1, 100'000))
        ->capture_default_str();
    app.add_option("--seed", o.seed, "Seed of the behaviours' assignment")->capture_default_str();
    app.add_flag("--loopback-networks", o.loopback_networks,
                 "Each worker sends from a loopback address of its own /24 (127.A.B.2), as on distinct networks");
    app.add_option("--records", o.records, "File for one JSON line per request (lease, reply, latency)");
    try {
        app.parse(argc, argv);
        o.mix = parse_mix(mix);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    } catch (const std::invalid_argument& e) {
        std::cerr << "pelorin-loadgen: " << e.what() << "\n";
        return 2;
    }
    o.heartbeat = std::chrono::duration<double>(heartbeat);
    o.work = std::chrono::duration<double>(work);
    o.retry_wait = std::chrono::duration<double>(retry_wait);
    o.lease_timeout = std::chrono::duration<double>(lease_timeout);
    o.ramp = std::chrono::duration<double>(ramp);
    o.duration = std::chrono::duration<double>(duration);
    o.warmup = std::chrono::duration<double>(warmup);
    try {
        const RunOutcome outcome = run_load(o);
        std::cout << o.workers << " workers on " << o.servers.size() << " server(s), " << outcome.seconds << " s"
                  << (outcome.finished ? "" : " (time up)") << "\n";
        for (const auto& [ending, count] : outcome.endings) std::cout << "  " << ending << ": " << count << "\n";
        std::cout << outcome.figures;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "pelorin-loadgen: " << e.what() << "\n";
        return 1;
    }
}
