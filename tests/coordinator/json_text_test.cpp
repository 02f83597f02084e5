#include <gtest/gtest.h>

#include <optional>
#include <random>
// GCC 12 with sanitizers warns about its own std::function inside <regex>.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <stdexcept>
#include <string>

#include "coordinator/json_text.hpp"
#include "coordinator/safe_text.hpp"

namespace pelorin {
namespace {

TEST(JsonText, StringMembers) {
    struct Case {
        std::string text;
        const char* key;
        std::string expected;  // "<default>" when the default is returned
    };
    const Case cases[] = {
        {R"({"a" : "x"})", "a", "x"},
        {"{\"a\"\t:\t\"x\"}", "a", "x"},
        {"{\"a\"\r\n:\n \"x\"}", "a", "x"},
        {R"({"a":"x\"y"})", "a", "x\\"},  // escapes are not decoded: the value ends at the quote
        {R"({"outer":{"a":"1"},"a":"2"})", "a", "1"},
        {R"({"backend":"cpu","end":"9"})", "end", "9"},  // a key inside a longer key is not matched
        {R"({"backend":"cpu"})", "end", "<default>"},
        {R"({"a":5})", "a", "<default>"},
        {R"({"a":null})", "a", "<default>"},
        {R"({"a":5,"b":{"a":"later"}})", "a", "later"},  // the first occurrence of the right form
        {R"({"a":""})", "a", ""},
        {R"({"a":"unterminated)", "a", "<default>"},
        {R"({"a" "x"})", "a", "<default>"},
        {"", "a", "<default>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json_string_field(c.text, c.key, "<default>"), c.expected) << c.text;
    }
}

TEST(JsonText, NumberAndBooleanMembers) {
    struct NumberCase {
        const char* text;
        std::uint64_t expected;  // 77 is the default
    };
    const NumberCase numbers[] = {
        {R"({"n":5})", 5},
        {R"({"n":"5"})", 77},
        {R"({"n" : 18446744073709551615})", 18446744073709551615u},
        {R"({"n":000123})", 123},
        {R"({"n":12.5})", 12},
        {R"({"n":1e5})", 1},
        {R"({"n":-1})", 77},
        {R"({"n":true})", 77},
        {"", 77},
    };
    for (const auto& c : numbers) EXPECT_EQ(json_u64_field(c.text, "n", 77), c.expected) << c.text;
    for (const char* text : {R"({"n":18446744073709551616})", R"({"n":99999999999999999999999})"}) {
        try {
            json_u64_field(text, "n", 0);
            ADD_FAILURE() << text << ": no error";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stoull argument out of range") << text;
        }
    }

    struct BoolCase {
        const char* text;
        bool default_value;
        bool expected;
    };
    const BoolCase bools[] = {
        {R"({"complete":true})", false, true},     {R"({"complete": false})", true, false},
        {R"({"complete":"true"})", false, false},  {R"({"complete":"false"})", true, true},
        {R"({"complete":1})", false, false},       {"", true, true},
    };
    for (const auto& c : bools) EXPECT_EQ(json_bool_field(c.text, "complete", c.default_value), c.expected) << c.text;
}

// Members of any length are found without running out of stack.
TEST(JsonText, LongValuesAndTexts) {
    const std::string value(2'000'000, 'x');
    EXPECT_EQ(json_string_field("{\"a\":\"" + value + "\"}", "a", ""), value);
    const std::string padded = std::string(2'000'000, ' ') + "{\"n\":7,\"b\":false}";
    EXPECT_EQ(json_u64_field(padded, "n", 0), 7u);
    EXPECT_FALSE(json_bool_field(padded, "b", true));
    EXPECT_EQ(json_u64_field("{\"n\":" + std::string(1'000'000, '0') + "42}", "n", 0), 42u);
}

// The readers scan by hand; on short texts they must agree with the regular expressions
// they stand for.
TEST(JsonText, AgreesWithTheRegularExpressionsOnRandomTexts) {
    const std::uint32_t seed = 20240611;
    std::mt19937 rng(seed);
    // Texts built from near-misses and hits of "k", blanks, a colon and values of each form.
    const char* keys[] = {"\"k\"", "\"k", "k\"", "\"kk\"", "\"k\"\"k\""};
    const char* blanks[] = {"", " ", "\t", "\n ", "\r\f\v"};
    const char* values[] = {"\"v\"", "\"\"", "\"v\\\"", "\"open", "17", "0", "true", "false", "fals", "null", "-1", "{"};
    const std::regex string_re(R"(\"k\"\s*:\s*\"([^\"]*)\")");
    const std::regex number_re(R"(\"k\"\s*:\s*([0-9]+))");
    const std::regex bool_re(R"(\"k\"\s*:\s*(true|false))");
    auto search = [](const std::string& text, const std::regex& re) -> std::optional<std::string> {
        std::smatch m;
        if (!std::regex_search(text, m, re)) return std::nullopt;
        return m[1].str();
    };
    auto pick = [&rng](const auto& list) { return list[rng() % std::size(list)]; };
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        for (int segment = static_cast<int>(rng() % 3); segment >= 0; --segment) {
            text += pick(keys);
            text += pick(blanks);
            if (rng() % 5 != 0) text += ":";
            text += pick(blanks);
            text += pick(values);
        }
        const auto str = search(text, string_re);
        ASSERT_EQ(json_string_field(text, "k", "<none>"), str.value_or("<none>")) << "seed " << seed << " text " << text;
        const auto num = search(text, number_re);
        ASSERT_EQ(json_u64_field(text, "k", 999), num ? std::stoull(*num) : 999) << "seed " << seed << " text " << text;
        const auto word = search(text, bool_re);
        ASSERT_EQ(json_bool_field(text, "k", false), word ? *word == "true" : false)
            << "seed " << seed << " text " << text;
    }
}

TEST(SafeText, RefusesCharactersThatBreakTheirPlace) {
    struct Case {
        std::string value;
        bool json_ok;
        bool path_ok;
    };
    const Case cases[] = {
        {"lease-42_abc.DEF~", true, true},
        {"", true, true},
        {"caf\xc3\xa9", true, true},
        {"a\"b", false, false},
        {"a\\b", false, false},
        {std::string("a\0b", 3), false, false},
        {"a\nb", false, false},
        {"a\rb", false, false},
        {"a\tb", false, false},
        {"a\x7f", false, false},
        {"a/b", true, false},
        {"a?b", true, false},
        {"a#b", true, false},
        {"a%2Fb", true, false},
        {"a b", true, false},
    };
    for (const auto& c : cases) {
        for (const TextPlace place : {TextPlace::json_string, TextPlace::path_segment}) {
            const bool ok = place == TextPlace::json_string ? c.json_ok : c.path_ok;
            try {
                require_safe_text("Coordinator sent", "lease_id", c.value, place);
                EXPECT_TRUE(ok) << "accepted: " << c.value;
            } catch (const std::runtime_error& e) {
                EXPECT_FALSE(ok) << "refused: " << c.value;
                EXPECT_TRUE(std::string(e.what()).starts_with("Coordinator sent an unusable lease_id (it holds "))
                    << e.what();
            }
        }
    }
}

}  // namespace
}  // namespace pelorin
