#pragma once
// settings.json in the data folder: what the window's user chose (the work profile and the two
// opt-in pauses), kept from one start to the next. A missing or unusable file means the
// defaults, never a failure.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

struct WorkerSettings {
    int profile = 0;  // the work profile's index: 0 balanced, 1 maximum, 2 quiet
    bool pause_on_battery = false;
    bool pause_while_in_use = false;
    std::uint32_t in_use_minutes = 3;  // no input for this long: the computer is not in use
};

// The file's one line: {"profile":0,"pause_on_battery":false,...}, ending in a line feed.
std::string settings_text(const WorkerSettings& settings);

struct SettingsLoad {
    WorkerSettings settings;  // the file's, or the defaults
    // Why the file was not used ("it is malformed at byte 3", "its profile is 7, not 0 to 2");
    // empty when it was, or when there is none.
    std::string unusable;
};
SettingsLoad load_settings();
// The same on a file's bytes already read (no bytes at all: "it is empty").
SettingsLoad settings_from_text(std::string_view text);

// Through the same durable replace as the checkpoint. Throws std::runtime_error "Could not
// write settings" or "Could not commit settings"; the previous file is then unchanged.
void save_settings(const WorkerSettings& settings);

}  // namespace pelorin
