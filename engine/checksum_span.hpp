#pragma once
// Checksums of a run of consecutive starts that share their high limb: for lo = first ..
// first + count - 1, sum and xor of mix64(key ^ lo), where key = mix64(hi). The caller
// keeps lo from wrapping. The kernel is chosen once, after a processor check.
#include <cstdint>

namespace pelorin {

struct ChecksumPair {
    std::uint64_t sum = 0;
    std::uint64_t xor_ = 0;
};

using ChecksumSpanFn = ChecksumPair (*)(std::uint64_t key, std::uint64_t first, std::uint64_t count);

ChecksumPair checksum_span_scalar(std::uint64_t key, std::uint64_t first, std::uint64_t count);
ChecksumPair checksum_span_avx2(std::uint64_t key, std::uint64_t first, std::uint64_t count);
ChecksumPair checksum_span_avx512(std::uint64_t key, std::uint64_t first, std::uint64_t count);

// The widest kernel this processor runs.
ChecksumSpanFn checksum_span_kernel();
inline ChecksumPair checksum_span(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    return checksum_span_kernel()(key, first, count);
}

}  // namespace pelorin
