#pragma once
// What a load run is asked to do: the servers, the simulated workers and their behaviours,
// the pace of the simulated world, and where the records go.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/loadgen/behaviours.hpp"

namespace pelorin::loadgen {

struct LoadOptions {
    // HOST:PORT of each server instance; requests go to them in turn, as a load balancer
    // spreads new connections, and a worker whose request failed tries the next.
    std::vector<std::string> servers;
    std::filesystem::path ca_file;  // the only authority trusted
    std::size_t workers = 100;
    Mix mix = {1, 0, 0, 0, 0};
    // The simulated world's times, before time_scale: a heartbeat every 20 s as the worker
    // sends them, a unit worked on for `work`, and the wait after a failure that named none.
    std::chrono::duration<double> heartbeat{20};
    std::chrono::duration<double> work{120};
    std::chrono::duration<double> retry_wait{30};
    // Every simulated time above, and every Retry-After a server sends, is multiplied by this.
    double time_scale = 1;
    // The server's lease time-out (real seconds, not scaled): slow workers complete after it.
    std::chrono::duration<double> lease_timeout{600};
    // Workers start spread evenly over this (real) time.
    std::chrono::duration<double> ramp{20};
    // The run ends when every worker is done, or after this (real) time at the latest.
    std::chrono::duration<double> duration{300};
    // Requests sent before this (real) time are recorded but left out of the figures.
    std::chrono::duration<double> warmup{0};
    std::chrono::milliseconds request_timeout{30000};
    std::size_t max_in_flight = 2048;
    std::uint64_t seed = 1;
    // Each worker sends from a loopback address of its own /24 (127.A.B.2), as workers on
    // distinct networks do; for servers on loopback.
    bool loopback_networks = false;
    std::filesystem::path records;  // one JSON line per request; none when empty
};

// A duration of the simulated world in real time.
inline std::chrono::steady_clock::duration scaled(const LoadOptions& o, std::chrono::duration<double> d) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(d * o.time_scale);
}

}  // namespace pelorin::loadgen
