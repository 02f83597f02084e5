#pragma once
// The checksum pair a correct result of a unit must carry, recomputed from its starts.
#include "engine/checksum_span.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server {

// Sum and xor of start_checksum over every start of the range. The range is cut where the
// high limb changes (at each multiple of 2^64), since the key of a span is mix64(high limb).
// Throws as unit_size does for a reversed or oversized range.
ChecksumPair unit_checksums(const UnitRange& range);

}  // namespace pelorin::server
