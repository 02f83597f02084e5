#pragma once
// The checksum pair a correct result of a unit must carry, recomputed from its starts, whole
// or in spans.
#include "engine/checksum_span.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server {

// Sum and xor of start_checksum over `count` starts from `first`. The run is cut where the
// high limb changes (at each multiple of 2^64), since the key of a span is mix64(high limb).
// The run must end at or below 2^128.
ChecksumPair span_checksums(U128 first, std::uint64_t count);

// span_checksums over every start of the range. Throws as unit_size does for a reversed or
// oversized range.
ChecksumPair unit_checksums(const UnitRange& range);

}  // namespace pelorin::server
