#include "server/unit_checksums.hpp"

#include <cstdint>

#include "engine/mix64.hpp"

namespace pelorin::server {

ChecksumPair unit_checksums(const UnitRange& range) {
    std::uint64_t remaining = unit_size(range);
    ChecksumPair total;
    U128 at = range.begin;
    while (remaining > 0) {
        // Starts left before the low limb wraps; 0 stands for 2^64, more than any unit holds.
        const std::uint64_t room = std::uint64_t{0} - at.lo;
        const std::uint64_t n = (room == 0 || room > remaining) ? remaining : room;
        const ChecksumPair part = checksum_span(mix64(at.hi), at.lo, n);
        total.sum += part.sum;
        total.xor_ ^= part.xor_;
        remaining -= n;
        at = add_u64(at, n);  // cannot pass 2^128: the range ends at or below it
    }
    return total;
}

}  // namespace pelorin::server
