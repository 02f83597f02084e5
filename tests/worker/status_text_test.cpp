#include <gtest/gtest.h>

#include "worker/display_text.hpp"
#include "worker/status_text.hpp"
#include "worker/token_text.hpp"

namespace pelorin {
namespace {

TEST(FormatRate, Examples) {
    const std::pair<double, const char*> cases[] = {
        {0, "0.00"},       {0.25, "0.25"},      {7.5, "7.50"},     {42, "42.0"},     {999, "999"},
        {1000, "1.00K"},   {12345, "12.3K"},    {1234567, "1.23M"}, {987654321, "988M"}, {2.5e9, "2.50B"},
        {999.7, "1000"},   {999999, "1000K"},   {1e18, "1000P"},   {3e21, "3000000P"}, {9.999, "10.00"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(format_rate(value), text) << value;
}

TEST(StatusText, ProgressLayout) {
    EXPECT_EQ(progress_text("record-recursive", 42.1666, 2.2e9, 0, 0.4),
              "WORKING \xC2\xB7 record-recursive\r\n\r\n"
              "Current unit  42.17%\r\n"
              "Performance   2.20B starts/s\r\n"
              "Completed     0 units\r\n"
              "Remaining     0 seconds\r\n\r\n"
              "Close the window to checkpoint and stop.");
    EXPECT_NE(progress_text("x", 100.0, 1, 7, 12.5).find("Current unit  100.00%\r\n"), std::string::npos);
}

TEST(StatusText, FixedShapes) {
    EXPECT_EQ(optimization_complete_text("record-recursive", 2.2e9),
              "Optimization complete.\r\nrecord-recursive \xC2\xB7 2.20B starts/s\r\nChecking secure connection...");
    EXPECT_EQ(resuming_text(1048576, 3000000), "Resuming checkpoint at 34%...");
    EXPECT_EQ(resuming_text(0, 0), "Resuming checkpoint at 0%...");
    // offset * 100 overflows 64 bits here; the percentage must not wrap.
    EXPECT_EQ(resuming_text(18000000000000000000ull, 18446744073709551615ull), "Resuming checkpoint at 97%...");
    EXPECT_EQ(resuming_text(18446744073709551615ull, 1), "Resuming checkpoint at 1844674407370955161500%...");
    EXPECT_EQ(unit_accepted_text("accepted"), "Unit accepted \xC2\xB7 accepted\r\nRequesting more work...");
    EXPECT_EQ(unit_rejected_text("rejected: checked is 5"),
              "Unit rejected \xC2\xB7 rejected: checked is 5\r\nRequesting more work...");
    EXPECT_EQ(unusable_checkpoint_text("it is cut short"),
              "Local checkpoint unusable: it is cut short.\r\nKept as checkpoint.json.bad; the unit starts from 0%.");
    EXPECT_EQ(stopped_text("empty integer"), "STOPPED\r\n\r\nempty integer\r\n\r\nPress Start to retry.");
}

TEST(StatusText, RetryWaits) {
    using namespace std::chrono;
    const std::pair<nanoseconds, const char*> waits[] = {
        {milliseconds(50), "0.1 s"}, {milliseconds(2500), "2.5 s"}, {milliseconds(9940), "9.9 s"},
        {milliseconds(9960), "10 s"}, {seconds(32), "32 s"},         {seconds(119), "119 s"},
        {seconds(256), "4 min 16 s"}, {minutes(30), "30 min"},
    };
    for (const auto& [wait, text] : waits) EXPECT_EQ(wait_text(wait), text) << wait.count();
    // 2026-12-10 14:05:09 UTC
    const system_clock::time_point at{seconds(1796911509)};
    EXPECT_EQ(retry_text("Coordinator error 503: busy", seconds(32), at),
              "WAITING TO RETRY\r\n\r\nCoordinator error 503: busy\r\n\r\nNext try in 32 s, at 14:05:09 UTC.");
}

TEST(DisplayText, ControlCharactersFromOutsideAreReplaced) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::string, std::string> cases[] = {
        {"STOPPED\r\n\r\nCoordinator error 500: x", "STOPPED\r\n\r\nCoordinator error 500: x"},  // kept
        {"WORKING \xC2\xB7 scalar \xE2\x82\xAC \xF0\x9F\x98\x80", "WORKING \xC2\xB7 scalar \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\x1b[2Jb", "a" + r + "[2Jb"},            // clear screen
        {"\x1b]0;title\x07", r + "]0;title" + r},  // window title
        {"lone\rCR and\nLF\tTAB\x7f", "lone" + r + "CR and" + r + "LF" + r + "TAB" + r},
        {"c1 \xC2\x9B""31m", "c1 " + r + "31m"},     // CSI as a C1 control
        {"raw \x9B""31m", "raw " + r + "31m"},        // CSI as a lone byte
        {"cut \xE2\x82", "cut " + r + r},            // truncated sequence
        {"over \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", "over " + r + r + " " + r + r + r + " " + r + r + r + r},
        {std::string("nul\0x", 5), "nul" + r + "x"},
        // Bidirectional controls: U+202E, U+2066, U+2069, U+200F, U+061C; their neighbours kept.
        {"a\xE2\x80\xAE" "exe.txt", "a" + r + "exe.txt"},
        {"\xE2\x81\xA6x\xE2\x81\xA9 \xE2\x80\x8F \xD8\x9C", r + "x" + r + " " + r + " " + r},
        {"\xE2\x80\xAD\xE2\x80\xAA\xE2\x80\x8E", r + r + r},
        {"\xE2\x80\x8D \xE2\x80\xAF \xE2\x81\xA5 \xD8\x9B", "\xE2\x80\x8D \xE2\x80\xAF \xE2\x81\xA5 \xD8\x9B"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(printable_text(in), out) << in;
        // On one line, CR LF goes too; nothing else differs.
        std::string line = out;
        for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, r + r);
        EXPECT_EQ(printable_line(in), line) << in;
    }
}

// A reply may echo the token as it stands or with characters written as JSON escapes.
TEST(TokenText, EveryEchoOfATokenIsHidden) {
    const std::pair<std::string, std::string> cases[] = {
        {"bad tok-1/x here", "bad <token> here"},
        {"tok\\u002d1\\/x", "<token>"},                       // escapes, lower case
        {"\\u0074ok\\u002D1/\\u0078, tok-1/x", "<token>, <token>"},  // upper case hex, twice
        {"tok-1/", "tok-1/"},                                   // a part of it stays
        {"tok\\u002-1/x", "tok\\u002-1/x"},                     // a broken escape is no echo
        {"tok\\u012d1/x", "tok\\u012d1/x"},                     // another character
        {"old-9 and tok-1/x", "<token> and <token>"},           // the token refused before it too
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(without_tokens(in, {"tok-1/x", "old-9", ""}), out) << in;
}

}  // namespace
}  // namespace pelorin
