// The notification icon's tooltip: the state, the unit and this computer's totals, within the
// icon's 127 characters.
#include <gtest/gtest.h>

#include "app/tray_tip.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

std::size_t utf16_units(const std::string& utf8) {
    std::size_t n = 0;
    for (const unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

TEST(TrayTip, StateUnitAndTotals) {
    const InstallationTotals totals{12, BigUint(1100000000000), "2026-12-01"};
    struct Case {
        const char* name;
        TrayTipState state;
        std::string want;
    };
    const Case cases[] = {
        {"ready, nothing done yet", {kReadyText, false, std::nullopt, 0, std::nullopt},
         "Ready."},
        {"working", {progress_text("record-recursive", 42.17, 4.5e9, 3, 12), false, "42.17%", 4.5e9, totals},
         "WORKING \xC2\xB7 record-recursive\nUnit 42.17% \xC2\xB7 4.50B starts/s\nThis computer: 12 units \xC2\xB7 1.10T "
         "starts"},
        {"paused by the user inside a unit", {progress_text("scalar", 1, 1e6, 0, 1), true, "1.00%", 1e6, std::nullopt},
         "Paused\nUnit 1.00% \xC2\xB7 1.00M starts/s"},
        {"on battery power", {machine_paused_text(true, std::chrono::minutes(3), "5.00%"), false, "5.00%", 2e9, totals},
         "PAUSED \xC2\xB7 on battery power\nUnit 5.00% \xC2\xB7 2.00B starts/s\nThis computer: 12 units \xC2\xB7 1.10T "
         "starts"},
        {"one unit", {kCompleteText, false, std::nullopt, 0, InstallationTotals{1, BigUint(8589934592), "2026-12-01"}},
         "Campaign allocation is complete.\nThis computer: 1 unit \xC2\xB7 8.59B starts"},
    };
    for (const Case& c : cases) {
        const std::string tip = tray_tip_text(c.state);
        EXPECT_EQ(tip, c.want) << c.name;
        EXPECT_LE(utf16_units(tip), kTrayTipLimit) << c.name;
    }
}

// A long state and long lines never pass the icon's limit; a line that does not fit is left out
// whole, never cut in the middle of a character.
TEST(TrayTip, NeverPastTheLimit) {
    TrayTipState state;
    state.status = "STOPPED \xC2\xB7 " + std::string(300, 'x');
    state.unit_percent = std::string(80, '9') + "%";
    state.starts_per_second = 1e18;
    state.totals = InstallationTotals{UINT64_MAX, BigUint(UINT64_MAX), "2026-12-01"};
    const std::string tip = tray_tip_text(state);
    EXPECT_LE(utf16_units(tip), kTrayTipLimit) << tip;
    EXPECT_TRUE(tip.starts_with("STOPPED \xC2\xB7 xxx")) << tip;
    EXPECT_EQ(tip.find("Unit "), std::string::npos) << tip;
    EXPECT_NE(tip.find("\nThis computer: 18446744073709551615 units"), std::string::npos) << tip;
}

}  // namespace
}  // namespace pelorin
