#include "server/store/wide_math.hpp"

#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

using u128 = unsigned __int128;

U128 to_u128(u128 v) { return U128{static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64)}; }
u128 from_u128(U128 v) { return (static_cast<u128>(v.hi) << 64) | v.lo; }

}  // namespace

std::string units_in(const UnitRange& range, std::uint64_t unit_size) {
    if (unit_size == 0 || (!range.end_is_2_128 && !(range.begin < range.end))) return "0";
    // ceil(n / s) = (n - 1) / s + 1, and n - 1 fits 128 bits even when the end is 2^128.
    const u128 last = range.end_is_2_128 ? ~u128{0} : from_u128(range.end) - 1;
    // The count itself reaches 2^128 for units of one start over the whole range.
    const U128 q = to_u128((last - from_u128(range.begin)) / unit_size);
    return biguint_to_decimal(BigUint::from_limbs({q.lo, q.hi}).add_u64(1));
}

std::string starts_in_units(std::int64_t count, std::uint64_t unit_size, std::uint64_t last_size) {
    if (count <= 0) return "0";
    // count < 2^63 and unit_size < 2^64: the product of all but one unit stays below 2^127.
    const U128 most = to_u128(static_cast<u128>(count - 1) * unit_size);
    BigUint total = BigUint::from_limbs({most.lo, most.hi});
    total.add_u64(last_size != 0 ? last_size : unit_size);
    return biguint_to_decimal(total);
}

double decimal_to_double(const std::string& digits) {
    double v = 0;
    for (char c : digits)
        if (c >= '0' && c <= '9') v = v * 10 + (c - '0');
    return v;
}

}  // namespace pelorin::server
