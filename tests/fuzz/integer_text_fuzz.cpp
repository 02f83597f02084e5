// parse_u128, parse_end_bound and parse_biguint on any text. Whatever is accepted prints back
// to a text that parses to the same value; a plain decimal or hexadecimal text is accepted
// exactly when its value fits, checked against an arbitrary-width reading; every refusal
// carries one of the documented messages.
#include <stdexcept>
#include <string>

#include "tests/fuzz/fuzz_check.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

constexpr std::string_view kMalformed = "integer exceeds 128 bits or is malformed";

std::string without_blanks(std::string_view text) {
    std::string out;
    for (char c : text)
        if (std::string_view(" \t\n\v\f\r").find(c) == std::string_view::npos) out.push_back(c);
    return out;
}

std::string without_leading_zeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string() : std::string(digits.substr(first));
}

// What a plain digit text should read as: absent when it does not fit 128 bits, and
// nothing to compare (nullopt flag) for texts of other forms.
struct Expected {
    bool plain = false;
    bool fits = false;
    U128 value;
};

Expected reference(const std::string& s) {
    Expected e;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const std::string digits = hex ? s.substr(2) : s;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return e;
    e.plain = true;
    if (hex) {
        const std::string significant = without_leading_zeros(digits);
        e.fits = significant.size() <= 32;
        for (char c : significant) {
            const unsigned d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            e.value = U128{(e.value.lo << 4) | d, (e.value.hi << 4) | (e.value.lo >> 60)};
        }
    } else {
        const BigUint wide = parse_biguint(digits);
        const auto& limbs = wide.limbs();
        e.fits = limbs.size() <= 2;
        if (e.fits) e.value = U128{limbs.size() > 0 ? limbs[0] : 0, limbs.size() > 1 ? limbs[1] : 0};
    }
    return e;
}

void check_u128_refusal(const std::exception& e, bool overflow) {
    if (overflow)
        expect_message(e.what(), {kMalformed});
    else
        expect_message(e.what(), {"empty integer", "only 2^k notation is supported", "invalid power expression"});
}

// The outcome of one parse: a value or the refusal's message.
struct Outcome {
    bool accepted = false;
    EndBound bound;
    std::string message;
};

Outcome u128_outcome(std::string_view text) {
    Outcome o;
    try {
        o.bound.value = parse_u128(text);
        o.accepted = true;
    } catch (const std::overflow_error& e) {
        check_u128_refusal(e, true);
        o.message = e.what();
    } catch (const std::invalid_argument& e) {
        check_u128_refusal(e, false);
        o.message = e.what();
    }
    return o;
}

void check_u128(std::string_view text) {
    const Outcome o = u128_outcome(text);
    const Expected ref = reference(without_blanks(text));
    if (ref.plain) {
        expect(o.accepted == ref.fits, "a plain text is accepted exactly when it fits 128 bits");
        if (o.accepted) expect(o.bound.value == ref.value, "a plain text reads as its value");
        if (!o.accepted) expect(o.message == kMalformed, "a plain text too wide is an overflow", o.message);
    }
    if (!o.accepted) return;
    const std::string printed = u128_to_decimal(o.bound.value);
    expect(parse_u128(printed) == o.bound.value, "u128 round trip", printed);
}

void check_end_bound(std::string_view text) {
    EndBound bound;
    try {
        bound = parse_end_bound(text);
    } catch (const std::overflow_error& e) {
        check_u128_refusal(e, true);
        expect(u128_outcome(text).message == e.what(), "an end refused as parse_u128 refuses it", e.what());
        return;
    } catch (const std::invalid_argument& e) {
        check_u128_refusal(e, false);
        expect(u128_outcome(text).message == e.what(), "an end refused as parse_u128 refuses it", e.what());
        return;
    }
    if (bound.end_is_2_128) {
        expect(bound.value == U128{}, "the end 2^128 has zero limbs");
    } else {
        const Outcome o = u128_outcome(text);
        expect(o.accepted && o.bound.value == bound.value, "an end below 2^128 reads as parse_u128 reads it");
    }
    const std::string printed = end_to_decimal(bound.value, bound.end_is_2_128);
    const EndBound again = parse_end_bound(printed);
    expect(again.end_is_2_128 == bound.end_is_2_128 && again.value == bound.value, "end round trip", printed);
}

void check_biguint(std::string_view text) {
    BigUint value;
    try {
        value = parse_biguint(text);
    } catch (const std::invalid_argument& e) {
        expect_message(e.what(), {text.empty() ? "empty arbitrary-width integer" : "invalid arbitrary-width integer"});
        expect(text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos,
               "digits refused", e.what());
        return;
    }
    const std::string printed = biguint_to_decimal(value);
    const std::string digits = without_leading_zeros(text);
    expect(printed == (digits.empty() ? "0" : digits), "arbitrary-width decimal prints as read", printed);
    expect(parse_biguint(printed) == value, "arbitrary-width round trip", printed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = as_text(data, size);
    check_u128(text);
    check_end_bound(text);
    check_biguint(text);
    return 0;
}
