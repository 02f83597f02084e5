#include "wideint/biguint.hpp"

#include <algorithm>
#include <ostream>

#include "wideint/decimal.hpp"

namespace pelorin {

BigUint::BigUint(std::uint64_t v) {
    if (v != 0) limbs_.push_back(v);
}

BigUint BigUint::from(const U256& v) {
    return from_limbs({v.limb[0], v.limb[1], v.limb[2], v.limb[3]});
}

BigUint BigUint::from_limbs(std::vector<std::uint64_t> limbs) {
    BigUint r;
    r.limbs_ = std::move(limbs);
    r.normalise();
    return r;
}

void BigUint::normalise() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
}

BigUint& BigUint::operator+=(const BigUint& other) {
    if (limbs_.size() < other.limbs_.size()) limbs_.resize(other.limbs_.size(), 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        const std::uint64_t b = i < other.limbs_.size() ? other.limbs_[i] : 0;
        if (b == 0 && carry == 0 && i >= other.limbs_.size()) break;
        const std::uint64_t s1 = limbs_[i] + b;
        const std::uint64_t c1 = s1 < b ? 1 : 0;
        const std::uint64_t s2 = s1 + carry;
        const std::uint64_t c2 = s2 < s1 ? 1 : 0;
        limbs_[i] = s2;
        carry = c1 + c2;
    }
    if (carry != 0) limbs_.push_back(1);
    return *this;
}

BigUint& BigUint::add_u64(std::uint64_t x) {
    if (x == 0) return *this;
    if (limbs_.empty()) limbs_.push_back(0);
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        limbs_[i] += x;
        if (limbs_[i] >= x) return *this;
        x = 1;
    }
    limbs_.push_back(1);
    return *this;
}

void BigUint::three_n_plus_one() {
    if (limbs_.empty()) limbs_.push_back(0);
    std::uint64_t carry = 1;
    for (auto& x : limbs_) {
        const std::uint64_t twice = x << 1;
        const std::uint64_t thrice = twice + x;
        std::uint64_t out = (x >> 63) + (thrice < twice ? 1u : 0u);
        const std::uint64_t sum = thrice + carry;
        out += sum < thrice ? 1u : 0u;
        x = sum;
        carry = out;
    }
    if (carry != 0) limbs_.push_back(carry);
}

void BigUint::halve() {
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        const std::uint64_t next = i + 1 < limbs_.size() ? limbs_[i + 1] : 0;
        limbs_[i] = (limbs_[i] >> 1) | (next << 63);
    }
    normalise();
}

bool BigUint::less_than(U128 s) const {
    if (limbs_.size() > 2) return false;
    const U128 v{limbs_.size() > 0 ? limbs_[0] : 0, limbs_.size() > 1 ? limbs_[1] : 0};
    return v < s;
}

double BigUint::to_double() const {
    double x = 0.0;
    for (auto it = limbs_.rbegin(); it != limbs_.rend(); ++it) x = x * 18446744073709551616.0 + static_cast<double>(*it);
    return x;
}

std::string biguint_to_decimal(const BigUint& value) { return limbs_to_decimal(value.limbs()); }

std::ostream& operator<<(std::ostream& out, const BigUint& value) { return out << biguint_to_decimal(value); }

}  // namespace pelorin
