#include "server/checksum_speed.hpp"

#include <chrono>
#include <cstdint>

#include "engine/checksum_span.hpp"

namespace pelorin::server {

double measure_checksum_rate(double seconds) {
    // Blocks of 2^20 starts above 2^32, where real units lie: each a fraction of a millisecond,
    // so the run ends close to the time asked for.
    constexpr std::uint64_t kBlock = std::uint64_t{1} << 20;
    const auto kernel = checksum_span_kernel();
    const auto began = std::chrono::steady_clock::now();
    std::uint64_t done = 0;
    std::uint64_t sink = 0;
    double elapsed = 0;
    do {
        sink ^= kernel(0, (std::uint64_t{1} << 32) + done, kBlock).sum;
        done += kBlock;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    } while (elapsed < seconds);
    // The sums are used, so the runs are not left out.
    volatile std::uint64_t keep = sink;
    (void)keep;
    return static_cast<double>(done) / elapsed;
}

}  // namespace pelorin::server
