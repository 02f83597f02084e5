#pragma once
// The notification-area icon's tooltip: the state, the unit in progress and what this computer
// has done, within the 127 characters the icon holds.
#include <cstdint>
#include <optional>
#include <string>

#include "state/installation_totals.hpp"

namespace pelorin {

// The most a notification icon's tooltip shows (its buffer holds 128 UTF-16 units).
inline constexpr std::size_t kTrayTipLimit = 127;

struct TrayTipState {
    std::string status;   // the status panel's text (its first line is the state)
    bool paused = false;  // the user's pause, which posts no text inside a unit
    // The unit in progress: its percentage ("42.17%") and this run's rate; absent between units.
    std::optional<std::string> unit_percent;
    double starts_per_second = 0.0;
    std::optional<InstallationTotals> totals;
};

// UTF-8 lines: "WORKING · record-recursive", "Unit 42.17% · 4.50B starts/s", "This computer:
// 12 units · 1.10T starts". Lines that do not fit are left out whole; a long state line gives
// its first sentence, or is cut with an ellipsis.
std::string tray_tip_text(const TrayTipState& state);

}  // namespace pelorin
