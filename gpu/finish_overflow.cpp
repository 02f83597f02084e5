#include <stdexcept>

#include "gpu/cuda_backend.hpp"
#include "wideint/biguint.hpp"
#include "wideint/u256.hpp"

namespace pelorin {

OverflowFinish finish_overflowed_start(const OverflowState& entry) {
    OverflowFinish f;
    f.steps = entry.steps + 1;
    U256 y = U256::from(entry.odd_value);
    if (!three_n_plus_one(y)) throw std::overflow_error("unexpected U256 promotion failure");
    for (;;) {
        if (less_than(y, entry.start)) return f;
        if (!is_odd(y)) {
            halve(y);
            ++f.steps;
            continue;
        }
        U256 next = y;
        if (three_n_plus_one(next)) {
            y = next;
            ++f.steps;
            continue;
        }
        f.wide = true;
        BigUint z = BigUint::from(y);
        z.three_n_plus_one();
        ++f.steps;
        while (!z.less_than(entry.start)) {
            if (z.is_even()) z.halve();
            else z.three_n_plus_one();
            ++f.steps;
        }
        return f;
    }
}

}  // namespace pelorin
