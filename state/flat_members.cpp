#include "state/flat_members.hpp"

#include <cmath>

#include "coordinator/safe_text.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin {
namespace {

std::string its(const char* key, const char* what) { return std::string("its ") + key + " " + what; }

}  // namespace

const std::string& FlatMembers::member(const char* key, FlatValue::Kind kind, const char* what) const {
    const auto it = members_.find(key);
    if (it == members_.end()) throw NotFlatObject(std::string("it lacks ") + key);
    if (it->second.kind != kind) throw NotFlatObject(its(key, "is not ") + what);
    return it->second.text;
}

std::string FlatMembers::text(const char* key) const {
    std::string value = member(key, FlatValue::Kind::text, "a text");
    try {
        require_safe_text("", key, value, TextPlace::json_string);
    } catch (const std::runtime_error&) {
        throw NotFlatObject(its(key, "holds a control character"));
    }
    return value;
}

std::uint64_t FlatMembers::number(const char* key) const {
    const std::string digits = member(key, FlatValue::Kind::number, "a number");
    std::uint64_t value = 0;
    for (const char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) throw NotFlatObject(its(key, "is beyond 64 bits"));
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t FlatMembers::number_within(const char* key, std::uint64_t low, std::uint64_t high) const {
    const std::uint64_t value = number(key);
    if (value < low || value > high)
        throw NotFlatObject(its(key, "is ") + std::to_string(value) + ", not " + std::to_string(low) + " to " +
                            std::to_string(high));
    return value;
}

bool FlatMembers::boolean(const char* key) const {
    return member(key, FlatValue::Kind::boolean, "true or false") == "true";
}

BigUint FlatMembers::counter(const char* key) const {
    const std::string value = member(key, FlatValue::Kind::text, "a text");
    try {
        return parse_biguint(value);
    } catch (const std::exception&) {
        throw NotFlatObject(its(key, "is not a decimal integer"));
    }
}

double FlatMembers::seconds(const char* key) const {
    const std::string value = member(key, FlatValue::Kind::text, "a text");
    double seconds = -1.0;
    try {
        std::size_t used = 0;
        seconds = std::stod(value, &used);
        if (used != value.size()) seconds = -1.0;
    } catch (const std::exception&) {
    }
    if (!std::isfinite(seconds) || seconds < 0.0 || std::fpclassify(seconds) == FP_SUBNORMAL)
        throw NotFlatObject(its(key, "is not a number of seconds"));
    return seconds;
}

}  // namespace pelorin
