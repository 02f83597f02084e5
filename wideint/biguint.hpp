#pragma once
// Arbitrary-width unsigned integer: limbs least significant first, never a zero top limb
// (zero is the empty array). Used for every counter of the result record and for the
// rare trajectories above 2^256.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "wideint/u128.hpp"
#include "wideint/u256.hpp"

namespace pelorin {

class BigUint {
public:
    BigUint() = default;
    explicit BigUint(std::uint64_t v);
    static BigUint from(const U256& v);
    static BigUint from_limbs(std::vector<std::uint64_t> limbs);  // normalises

    const std::vector<std::uint64_t>& limbs() const { return limbs_; }
    bool is_zero() const { return limbs_.empty(); }

    BigUint& operator+=(const BigUint& other);
    BigUint& add_u64(std::uint64_t x);
    BigUint& increment() { return add_u64(1); }
    void three_n_plus_one();
    bool is_even() const { return limbs_.empty() || (limbs_[0] & 1) == 0; }
    void halve();
    bool less_than(U128 s) const;
    double to_double() const;

    friend bool operator==(const BigUint&, const BigUint&) = default;

private:
    void normalise();
    std::vector<std::uint64_t> limbs_;
};

std::string biguint_to_decimal(const BigUint& value);
std::ostream& operator<<(std::ostream& out, const BigUint& value);

}  // namespace pelorin
