#include "coordinator/json_text.hpp"

#include <optional>
#include <stdexcept>

namespace pelorin {
namespace {

// A hand-written scan with exactly the matches of the patterns in the header. The standard
// regex engine recurses once per matched character, so a long value (a 100 kB string in a
// reply or a file) would overflow the stack; this scan runs in constant stack.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Every value form starts right after `"key"`, blanks, a colon and blanks. Each candidate
// position is tried in text order; `value_at` returns the capture when the rest matches.
template <typename ValueAt>
auto find_member(std::string_view text, std::string_view key, ValueAt value_at)
    -> decltype(value_at(text, std::size_t{0})) {
    std::string quoted_key;
    quoted_key.reserve(key.size() + 2);
    quoted_key.append(1, '"').append(key).append(1, '"');
    for (std::size_t at = text.find(quoted_key); at != std::string_view::npos;
         at = text.find(quoted_key, at + 1)) {
        std::size_t i = at + quoted_key.size();
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i >= text.size() || text[i] != ':') continue;
        ++i;
        while (i < text.size() && is_blank(text[i])) ++i;
        if (auto value = value_at(text, i)) return value;
    }
    return std::nullopt;
}

}  // namespace

std::string json_string_field(std::string_view text, std::string_view key, std::string default_text) {
    auto value = find_member(text, key, [](std::string_view t, std::size_t i) -> std::optional<std::string_view> {
        if (i >= t.size() || t[i] != '"') return std::nullopt;
        const std::size_t close = t.find('"', i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        return t.substr(i + 1, close - i - 1);
    });
    return value ? std::string(*value) : default_text;
}

std::uint64_t json_u64_field(std::string_view text, std::string_view key, std::uint64_t default_value) {
    auto digits = find_member(text, key, [](std::string_view t, std::size_t i) -> std::optional<std::string_view> {
        std::size_t end = i;
        while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
        if (end == i) return std::nullopt;
        return t.substr(i, end - i);
    });
    if (!digits) return default_value;
    std::uint64_t value = 0;
    for (char c : *digits) {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) throw std::out_of_range("stoull argument out of range");
        value = value * 10 + digit;
    }
    return value;
}

bool json_bool_field(std::string_view text, std::string_view key, bool default_value) {
    auto word = find_member(text, key, [](std::string_view t, std::size_t i) -> std::optional<bool> {
        const std::string_view rest = t.substr(i);
        if (rest.starts_with("true")) return true;
        if (rest.starts_with("false")) return false;
        return std::nullopt;
    });
    return word ? *word : default_value;
}

}  // namespace pelorin
