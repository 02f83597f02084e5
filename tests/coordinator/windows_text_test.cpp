// UTF-8 and UTF-16 at the Windows interfaces, and the text of Windows error codes.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <string>

#include "coordinator/windows_text.hpp"

namespace pelorin {
namespace {

TEST(WindowsText, Utf8AndUtf16ConvertBothWays) {
    struct Case {
        std::string utf8;
        std::wstring utf16;
    };
    const Case cases[] = {
        {"", L""},
        {"GET", L"GET"},
        {"WORKING \xC2\xB7 cpu-sieve\r\n", L"WORKING \u00B7 cpu-sieve\r\n"},
        {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF", L"\u30C7\u30FC\u30BF"},
        {"\xF0\x9D\x84\x9E", L"\xD834\xDD1E"},  // a surrogate pair
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(utf16_to_utf8(c.utf16), c.utf8) << c.utf8;
    }
    // Invalid input becomes the replacement character, as the system converts by default.
    EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf16_to_utf8(std::wstring(L"a\xD800" L"b")), "a\xEF\xBF\xBD" "b");
}

// "Windows error <code> (<text>)" with a text that says something and does not end in a
// line break or blank.
void expect_known(std::uint32_t code) {
    const std::string text = windows_error_text(code);
    const std::string head = "Windows error " + std::to_string(code) + " (";
    ASSERT_TRUE(text.starts_with(head)) << text;
    ASSERT_TRUE(text.ends_with(")")) << text;
    const std::string inner = text.substr(head.size(), text.size() - head.size() - 1);
    EXPECT_NE(inner, "unknown Windows error") << text;
    ASSERT_FALSE(inner.empty()) << text;
    EXPECT_EQ(std::string("\r\n ").find(inner.back()), std::string::npos) << text;
}

TEST(WindowsErrorText, SystemAndWinHttpCodesHaveTheirTexts) {
    expect_known(ERROR_FILE_NOT_FOUND);
    expect_known(ERROR_ACCESS_DENIED);
    expect_known(ERROR_WINHTTP_CANNOT_CONNECT);
    expect_known(ERROR_WINHTTP_TIMEOUT);
    expect_known(ERROR_WINHTTP_SECURE_FAILURE);
}

TEST(WindowsErrorText, UnknownCodeSaysSo) {
    EXPECT_EQ(windows_error_text(0x2000ABCDu), "Windows error 536914893 (unknown Windows error)");
    EXPECT_EQ(windows_error_text(12999), "Windows error 12999 (unknown Windows error)");
    EXPECT_EQ(windows_error_text(4294967295u), "Windows error 4294967295 (unknown Windows error)");
}

}  // namespace
}  // namespace pelorin
