#include "wideint/text_forms.hpp"

#include <stdexcept>
#include <string>

namespace pelorin {
namespace {

constexpr const char* kMalformed = "integer exceeds 128 bits or is malformed";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string strip_blanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!is_blank(c)) out.push_back(c);
    return out;
}

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// acc += v, throwing on a carry out of 128 bits.
void add_checked(U128& acc, U128 v) {
    const std::uint64_t lo = acc.lo + v.lo;
    const std::uint64_t c = lo < acc.lo ? 1 : 0;
    const std::uint64_t hi1 = acc.hi + v.hi;
    if (hi1 < acc.hi) throw std::overflow_error(kMalformed);
    const std::uint64_t hi = hi1 + c;
    if (hi < hi1) throw std::overflow_error(kMalformed);
    acc = U128{lo, hi};
}

// value * base as a sum of value shifted by each set bit of the base; any bit shifted
// out of 128 bits is an overflow.
U128 times_base(U128 value, unsigned base) {
    U128 out;
    for (unsigned bit = 0; bit < 5; ++bit) {
        if (((base >> bit) & 1u) == 0) continue;
        if (bit > 0 && (value.hi >> (64 - bit)) != 0) throw std::overflow_error(kMalformed);
        const U128 shifted = bit == 0 ? value : U128{value.lo << bit, (value.hi << bit) | (value.lo >> (64 - bit))};
        add_checked(out, shifted);
    }
    return out;
}

U128 parse_power(const std::string& text) {
    const auto caret = text.find('^');
    if (text.substr(0, caret) != "2") throw std::invalid_argument("only 2^k notation is supported");
    const std::string exp = text.substr(caret + 1);
    if (exp.empty()) throw std::invalid_argument("invalid power expression");
    std::uint64_t k = 0;
    for (char c : exp) {
        if (c < '0' || c > '9') throw std::invalid_argument("invalid power expression");
        k = k * 10 + static_cast<unsigned>(c - '0');
        if (k > 0xffffffffu) throw std::invalid_argument("invalid power expression");
    }
    if (k > 127) throw std::invalid_argument("invalid power expression");
    return k < 64 ? U128{std::uint64_t{1} << k, 0} : U128{0, std::uint64_t{1} << (k - 64)};
}

U128 parse_stripped(const std::string& text) {
    if (text.empty()) throw std::invalid_argument("empty integer");
    if (text.find('^') != std::string::npos) return parse_power(text);
    unsigned base = 10;
    std::size_t pos = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    U128 value;
    for (; pos < text.size(); ++pos) {
        const int d = digit_value(text[pos]);
        if (d < 0 || static_cast<unsigned>(d) >= base) throw std::overflow_error(kMalformed);
        value = times_base(value, base);
        add_checked(value, U128{static_cast<std::uint64_t>(d), 0});
    }
    return value;
}

}  // namespace

U128 parse_u128(std::string_view text) { return parse_stripped(strip_blanks(text)); }

EndBound parse_end_bound(std::string_view text) {
    const std::string s = strip_blanks(text);
    if (s == "2^128" || s == "340282366920938463463374607431768211456" || s == "0x100000000000000000000000000000000" ||
        s == "0X100000000000000000000000000000000")
        return EndBound{U128{}, true};
    return EndBound{parse_stripped(s), false};
}

BigUint parse_biguint(std::string_view text) {
    if (text.empty()) throw std::invalid_argument("empty arbitrary-width integer");
    std::vector<std::uint64_t> limbs;
    for (char c : text) {
        if (c < '0' || c > '9') throw std::invalid_argument("invalid arbitrary-width integer");
        // value := value*10 + digit, per limb 10x = 8x + 2x with the wraps carried.
        std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
        for (auto& x : limbs) {
            const std::uint64_t eight = x << 3;
            const std::uint64_t two = x << 1;
            std::uint64_t out = (x >> 61) + (x >> 63);
            const std::uint64_t ten = eight + two;
            out += ten < eight ? 1 : 0;
            const std::uint64_t sum = ten + carry;
            out += sum < ten ? 1 : 0;
            x = sum;
            carry = out;
        }
        if (carry != 0) limbs.push_back(carry);
    }
    return BigUint::from_limbs(std::move(limbs));
}

}  // namespace pelorin
