#include <gtest/gtest.h>

#include "worker/status_text.hpp"

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
    EXPECT_EQ(stopped_text("empty integer"), "STOPPED\r\n\r\nempty integer\r\n\r\nPress Start to retry.");
}

}  // namespace
}  // namespace pelorin
