#include "tools/loadgen/latency_figures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pelorin::loadgen {

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

void LatencyFigures::add(Call call, long status, double latency_ms) {
    PerCall& c = calls_[static_cast<std::size_t>(call)];
    c.latencies.push_back(latency_ms);
    if (status == 0) ++c.no_reply;
    else if (status < 400) ++c.ok;
    else if (status < 500) ++c.client_error;
    else ++c.server_error;
}

std::size_t LatencyFigures::requests() const {
    std::size_t n = 0;
    for (const PerCall& c : calls_) n += c.latencies.size();
    return n;
}

std::string LatencyFigures::table(double seconds) {
    std::string out;
    char line[160];
    const std::size_t total = requests();
    std::snprintf(line, sizeof line, "%zu requests in %.1f s: %.1f requests/s\n", total, seconds,
                  seconds > 0 ? static_cast<double>(total) / seconds : 0.0);
    out += line;
    std::snprintf(line, sizeof line, "%-10s %9s %9s %7s %7s %8s %9s %9s\n", "call", "requests", "2xx/3xx", "4xx", "5xx",
                  "no reply", "p50 ms", "p99 ms");
    out += line;
    for (int i = 0; i < kCalls; ++i) {
        PerCall& c = calls_[static_cast<std::size_t>(i)];
        if (c.latencies.empty()) continue;
        const double p50 = percentile(c.latencies, 50);
        const double p99 = percentile(c.latencies, 99);
        std::snprintf(line, sizeof line, "%-10s %9zu %9zu %7zu %7zu %8zu %9.1f %9.1f\n", call_name(static_cast<Call>(i)),
                      c.latencies.size(), c.ok, c.client_error, c.server_error, c.no_reply, p50, p99);
        out += line;
    }
    return out;
}

}  // namespace pelorin::loadgen
