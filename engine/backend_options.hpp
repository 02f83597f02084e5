#pragma once
// Options a backend receives. The CPU backends read name, threads and chunk_starts; the
// GPU backend also reads block_size, sieve_bits and run_mode.
#include <cstdint>
#include <string>

namespace pelorin {

struct BackendOptions {
    std::string name;
    std::uint32_t threads = 0;            // 0: the hardware concurrency
    std::uint64_t chunk_starts = 65536;   // starts per chunk of the threaded pool
    std::uint32_t block_size = 256;
    std::uint32_t sieve_bits = 24;
    std::string run_mode = "fast";
};

}  // namespace pelorin
