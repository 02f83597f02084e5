#pragma once
// Fixed-width counters of the four-lane loop, folded into the record once per chunk.
#include <cstdint>

#include "engine/check_start.hpp"
#include "engine/mix64.hpp"
#include "state/unit_result.hpp"

namespace pelorin::detail {

struct LaneTally {
    std::uint64_t checked = 0, candidates = 0, overflows = 0;
    std::uint64_t steps_lo = 0, steps_hi = 0;
    std::uint64_t sum = 0, xor_ = 0;

    // The per-lane bookkeeping after a group: a lane that met the 64-bit bound is walked
    // again from its start by check_start with the shortcut, and only that count is kept.
    void finish_lane(std::uint64_t s, std::uint64_t lane_steps, bool overflowed) {
        ++checked;
        if (s > 1) ++candidates;
        const std::uint64_t c = mix64(s);
        sum += c;
        xor_ ^= c;
        if (overflowed) {
            lane_steps = 0;
            bool escalated = false;
            check_start(U128{s, 0}, true, lane_steps, escalated);
            if (escalated) ++overflows;
        }
        steps_lo += lane_steps;
        steps_hi += steps_lo < lane_steps ? 1 : 0;
    }

    void fold_into(UnitResult& r) const {
        r.checked.add_u64(checked);
        r.candidates.add_u64(candidates);
        r.survivors_evaluated.add_u64(candidates);
        r.overflow_starts.add_u64(overflows);
        r.steps += BigUint::from_limbs({steps_lo, steps_hi});
        r.checksum_sum += sum;
        r.checksum_xor ^= xor_;
    }
};

}  // namespace pelorin::detail
