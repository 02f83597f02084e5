#include "server/store/wide_math.hpp"

#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

using u128 = unsigned __int128;

U128 to_u128(u128 v) { return U128{static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64)}; }
u128 from_u128(U128 v) { return (static_cast<u128>(v.hi) << 64) | v.lo; }

// n - 1 for a range of n starts (nothing for an empty one): last - begin fits 128 bits even
// when the end is 2^128, where n itself does not.
std::optional<u128> last_offset(const UnitRange& range) {
    if (!range.end_is_2_128 && !(range.begin < range.end)) return std::nullopt;
    const u128 last = range.end_is_2_128 ? ~u128{0} : from_u128(range.end) - 1;
    return last - from_u128(range.begin);
}

std::string plus_one(u128 v) {
    const U128 w = to_u128(v);
    return biguint_to_decimal(BigUint::from_limbs({w.lo, w.hi}).add_u64(1));
}

}  // namespace

std::string units_in(const UnitRange& range, std::uint64_t unit_size) {
    const auto n_minus_1 = last_offset(range);
    if (unit_size == 0 || !n_minus_1) return "0";
    // ceil(n / s) = (n - 1) / s + 1; the count itself reaches 2^128 for units of one start
    // over the whole range.
    return plus_one(*n_minus_1 / unit_size);
}

std::string starts_in_units(std::int64_t count, std::uint64_t unit_size, std::uint64_t last_size) {
    if (count <= 0) return "0";
    // count < 2^63 and unit_size < 2^64: the product of all but one unit stays below 2^127.
    const U128 most = to_u128(static_cast<u128>(count - 1) * unit_size);
    BigUint total = BigUint::from_limbs({most.lo, most.hi});
    total.add_u64(last_size != 0 ? last_size : unit_size);
    return biguint_to_decimal(total);
}

int decimal_compare(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string decimal_sum(const std::string& a, const std::string& b) {
    std::string out;
    int carry = 0;
    for (std::size_t i = 0; i < a.size() || i < b.size() || carry != 0; ++i) {
        int d = carry;
        if (i < a.size()) d += a[a.size() - 1 - i] - '0';
        if (i < b.size()) d += b[b.size() - 1 - i] - '0';
        out.push_back(static_cast<char>('0' + d % 10));
        carry = d / 10;
    }
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    return {out.rbegin(), out.rend()};
}

std::string decimal_difference(const std::string& a, const std::string& b) {
    if (decimal_compare(a, b) < 0) throw std::logic_error("decimal_difference: " + a + " is below " + b);
    std::string out;
    int borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        int d = (a[a.size() - 1 - i] - '0') - borrow;
        if (i < b.size()) d -= b[b.size() - 1 - i] - '0';
        borrow = d < 0 ? 1 : 0;
        out.push_back(static_cast<char>('0' + d + 10 * borrow));
    }
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    return {out.rbegin(), out.rend()};
}

std::string range_starts(const UnitRange& range) {
    const auto n_minus_1 = last_offset(range);
    return n_minus_1 ? plus_one(*n_minus_1) : "0";
}

std::uint64_t last_unit_size(const UnitRange& range, std::uint64_t unit_size) {
    const auto n_minus_1 = last_offset(range);
    if (unit_size == 0 || !n_minus_1) return 0;
    return static_cast<std::uint64_t>(*n_minus_1 % unit_size) + 1;
}

StartsByState starts_by_state(const CampaignFigures& c) {
    const std::uint64_t last = last_unit_size(c.range, c.unit_size);
    const auto in = [&](std::int64_t count, UnitState state) {
        return starts_in_units(count, c.unit_size, c.last_unit_state == state ? last : 0);
    };
    StartsByState s;
    s.total = range_starts(c.range);
    s.leased = in(c.units.leased, UnitState::leased);
    s.pending = in(c.units.pending, UnitState::pending);
    s.validated = in(c.units.validated, UnitState::validated);
    s.set_aside = in(c.units.set_aside, UnitState::set_aside);
    // Open units made so far and the starts not yet in any unit.
    s.open = decimal_difference(
        s.total, decimal_sum(decimal_sum(s.leased, s.pending), decimal_sum(s.validated, s.set_aside)));
    return s;
}

double decimal_to_double(const std::string& digits) {
    // strtod rounds once, to the nearest double; summing digit by digit rounds at every
    // step and is off in the last places from 2^53 on.
    return std::strtod(digits.c_str(), nullptr);
}

}  // namespace pelorin::server
