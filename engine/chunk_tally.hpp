#pragma once
// Fixed-width counters of one chunk, folded into the record once at the end: every range
// loop of the engine counts into one of these.
#include <cstdint>

#include "state/unit_result.hpp"

namespace pelorin {

struct Tally {
    std::uint64_t checked = 0, candidates = 0, exclusions = 0, overflows = 0;
    std::uint64_t u64_done = 0, u128_done = 0, bigint_done = 0;
    std::uint64_t steps_lo = 0, steps_hi = 0;  // steps can pass 2^64 within one chunk
    std::uint64_t sum = 0, xor_ = 0;

    void add_steps(std::uint64_t x) {
        steps_lo += x;
        steps_hi += steps_lo < x ? 1 : 0;
    }
    void completed(bool escalated, bool wide, std::uint64_t steps) {
        add_steps(steps);
        if (escalated) {
            ++overflows;
            ++bigint_done;
        } else if (wide) {
            ++u128_done;
        } else {
            ++u64_done;
        }
    }
    // n starts that fell below themselves in the U128 stage, with steps between them.
    void completed_many(std::uint64_t n, bool wide, std::uint64_t steps) {
        add_steps(steps);
        (wide ? u128_done : u64_done) += n;
    }
    void fold_into(UnitResult& r) const {
        r.checked.add_u64(checked);
        r.candidates.add_u64(candidates);
        r.survivors_evaluated.add_u64(candidates);
        r.proof_exclusions.add_u64(exclusions);
        r.overflow_starts.add_u64(overflows);
        r.u64_completions.add_u64(u64_done);
        r.u128_completions.add_u64(u128_done);
        r.bigint_completions.add_u64(bigint_done);
        r.steps += BigUint::from_limbs({steps_lo, steps_hi});
        r.checksum_sum += sum;
        r.checksum_xor ^= xor_;
    }
};

}  // namespace pelorin
