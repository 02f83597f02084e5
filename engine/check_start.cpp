#include "engine/check_start.hpp"

#include <stdexcept>

#include "wideint/biguint.hpp"
#include "wideint/u256.hpp"

namespace pelorin {
namespace {

// BigUint stage: b := 3c+1, then one step per pass until b < s.
bool finish_biguint(U128 s, const U256& c, std::uint64_t& steps, bool& escalated) {
    escalated = true;
    BigUint b = BigUint::from(c);
    b.three_n_plus_one();
    for (;;) {
        ++steps;
        if (b.less_than(s)) return true;
        if (!b.is_even()) b.three_n_plus_one();
        else b.halve();
    }
}

// U256 stage entered with odd n whose 3n+1 left 128 bits.
bool finish_u256(U128 s, U128 n, std::uint64_t& steps, bool& escalated) {
    U256 w = U256::from(n);
    if (!three_n_plus_one(w)) throw std::overflow_error("unexpected U256 promotion failure");
    ++steps;
    for (;;) {
        if (less_than(w, s)) return true;
        if (!is_odd(w)) {
            halve(w);
        } else {
            const U256 c = w;
            if (!three_n_plus_one(w)) return finish_biguint(s, c, steps, escalated);
        }
        ++steps;
    }
}

}  // namespace

bool continue_check(U128 s, U128 n, bool shortcut, std::uint64_t& steps, bool& escalated) {
    for (;;) {
        if (n < s) return true;
        if (is_odd(n)) {
            if (!three_n_plus_one_fits(n)) return finish_u256(s, n, steps, escalated);
            ++steps;
            if (shortcut) {
                const unsigned z = trailing_zeros(n);
                n = shift_right(n, z);
                steps += z;
            }
        } else if (shortcut) {
            const unsigned z = trailing_zeros(n);
            n = shift_right(n, z);
            steps += z;
        } else {
            n = shift_right(n, 1);
            ++steps;
        }
    }
}

bool check_start(U128 s, bool shortcut, std::uint64_t& steps, bool& escalated) {
    if (s == U128{}) return false;
    if (s == U128{1, 0}) return true;
    return continue_check(s, s, shortcut, steps, escalated);
}

bool check_start_fused(U128 s, std::uint64_t& steps, bool& escalated) {
    if (s == U128{}) return false;
    if (s == U128{1, 0}) return true;
    U128 n = s;
    for (;;) {
        if (n < s) return true;
        if (is_odd(n)) {
            if (!three_n_plus_one_fits(n)) break;
            n = shift_right(n, 1);
            steps += 2;
        } else {
            n = shift_right(n, 1);
            ++steps;
        }
    }
    // Widening: w := (3n+1)/2 in U256, then single steps.
    U256 w = U256::from(n);
    if (!three_n_plus_one(w)) throw std::overflow_error("unexpected U256 promotion failure");
    halve(w);
    steps += 2;
    for (;;) {
        if (less_than(w, s)) return true;
        if (!is_odd(w)) {
            halve(w);
            ++steps;
        } else {
            const U256 c = w;
            if (!three_n_plus_one(w)) return finish_biguint(s, c, steps, escalated);
            ++steps;
        }
    }
}

}  // namespace pelorin
