#pragma once
// The figures of a run: requests per second over the measured time, and per call the count,
// the replies by class and the p50 and p99 latency.
#include <array>
#include <string>
#include <vector>

#include "tools/loadgen/simulated_worker.hpp"

namespace pelorin::loadgen {

// The nearest-rank percentile (p in (0, 100]) of the values; 0 for none. Sorts `values`.
double percentile(std::vector<double>& values, double p);

class LatencyFigures {
public:
    void add(Call call, long status, double latency_ms);
    // seconds: the measured time the requests were sent in.
    std::string table(double seconds);
    std::size_t requests() const;

private:
    struct PerCall {
        std::vector<double> latencies;
        std::size_t ok = 0, client_error = 0, server_error = 0, no_reply = 0;
    };
    std::array<PerCall, kCalls> calls_;
};

}  // namespace pelorin::loadgen
