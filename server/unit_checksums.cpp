#include "server/unit_checksums.hpp"

#include <cstdint>

#include "engine/mix64.hpp"

namespace pelorin::server {

ChecksumPair span_checksums(U128 first, std::uint64_t count) {
    ChecksumPair total;
    U128 at = first;
    while (count > 0) {
        // Starts left before the low limb wraps; 0 stands for 2^64, more than any run holds.
        const std::uint64_t room = std::uint64_t{0} - at.lo;
        const std::uint64_t n = (room == 0 || room > count) ? count : room;
        const ChecksumPair part = checksum_span(mix64(at.hi), at.lo, n);
        total.sum += part.sum;
        total.xor_ ^= part.xor_;
        count -= n;
        if (count > 0) at = add_u64(at, n);  // cannot pass 2^128: the run ends at or below it
    }
    return total;
}

ChecksumPair unit_checksums(const UnitRange& range) { return span_checksums(range.begin, unit_size(range)); }

}  // namespace pelorin::server
