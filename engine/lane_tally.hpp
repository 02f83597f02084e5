#pragma once
// The per-lane bookkeeping of the four-lane loop, into the engine's chunk counters.
#include <cstdint>

#include "engine/check_start.hpp"
#include "engine/chunk_tally.hpp"
#include "engine/mix64.hpp"

namespace pelorin::detail {

// After a group: a lane that met the 64-bit bound is walked again from its start by
// check_start with the shortcut, and only that count is kept. This loop has no sieve and no
// completion classes, so only checked, candidates, overflows, steps and checksums move.
inline void finish_lane(Tally& t, std::uint64_t s, std::uint64_t lane_steps, bool overflowed) {
    ++t.checked;
    if (s > 1) ++t.candidates;
    const std::uint64_t c = mix64(s);
    t.sum += c;
    t.xor_ ^= c;
    if (overflowed) {
        lane_steps = 0;
        bool escalated = false;
        check_start(U128{s, 0}, true, lane_steps, escalated);
        if (escalated) ++t.overflows;
    }
    t.add_steps(lane_steps);
}

}  // namespace pelorin::detail
