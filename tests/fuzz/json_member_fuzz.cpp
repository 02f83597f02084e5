// json_string_field, json_u64_field and json_bool_field on any text, checked against the
// regular expressions they stand for (ECMAScript grammar, leftmost match) on texts short
// enough for the standard regex engine, whose recursion grows with the text.
#include <array>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "coordinator/json_text.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

// The keys the program reads, and two short ones that random texts hit more often.
constexpr std::array<std::string_view, 16> kKeys = {
    "a",     "n",       "lease_id", "begin", "end",       "complete", "audit",    "nonce",
    "token", "checked", "offset",   "valid", "worker_id", "elapsed",  "message", "difficulty_bits",
};

constexpr std::size_t kRegexLimit = 512;

enum Form { string_form, number_form, bool_form };

// Compiled once per key and form: compiling them for every input would take most of the time.
const std::regex& pattern(std::size_t key, Form form) {
    static const auto patterns = [] {
        const char* tails[] = {"\\\"\\s*:\\s*\\\"([^\\\"]*)\\\"", "\\\"\\s*:\\s*([0-9]+)",
                               "\\\"\\s*:\\s*(true|false)"};
        std::vector<std::array<std::regex, 3>> all(kKeys.size());
        for (std::size_t k = 0; k < kKeys.size(); ++k)
            for (int f = 0; f < 3; ++f) all[k][f] = std::regex("\\\"" + std::string(kKeys[k]) + tails[f]);
        return all;
    }();
    return patterns[key][form];
}

std::optional<std::string> regex_capture(std::string_view text, std::size_t key, Form form) {
    std::match_results<std::string_view::const_iterator> m;
    if (!std::regex_search(text.begin(), text.end(), m, pattern(key, form))) return std::nullopt;
    return m[1].str();
}

void check(std::string_view text, std::size_t key_index) {
    const std::string_view key = kKeys[key_index];
    const std::string string_value = json_string_field(text, key, "\x01none");
    std::optional<std::uint64_t> number;
    bool too_large = false;
    try {
        number = json_u64_field(text, key, 7);
    } catch (const std::out_of_range& e) {
        expect_message(e.what(), {"stoull argument out of range"});
        too_large = true;
    }
    const bool flag_if_true = json_bool_field(text, key, true);
    const bool flag_if_false = json_bool_field(text, key, false);

    if (text.size() > kRegexLimit) return;
    const auto s = regex_capture(text, key_index, string_form);
    expect(string_value == (s ? *s : "\x01none"), "string member as the pattern finds it", string_value);

    const auto digits = regex_capture(text, key_index, number_form);
    if (!digits) {
        expect(number == 7u, "number default");
    } else {
        try {
            const std::uint64_t expected = std::stoull(*digits);
            expect(number == expected, "number member as the pattern finds it", *digits);
        } catch (const std::out_of_range&) {
            expect(too_large, "a digit run beyond 64 bits fails", *digits);
        }
    }

    const auto word = regex_capture(text, key_index, bool_form);
    expect(flag_if_true == (word ? *word == "true" : true) && flag_if_false == (word ? *word == "true" : false),
           "boolean member as the pattern finds it");
}

}  // namespace

// The first byte picks the key; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    check(as_text(data + 1, size - 1), data[0] % kKeys.size());
    return 0;
}
