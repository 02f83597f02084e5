#include "state/worker_settings.hpp"


#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/flat_members.hpp"

namespace pelorin {
namespace {

constexpr const char* kFileName = "settings.json";
// A day without input at most: beyond that the option would never let work run.
constexpr std::uint32_t kLongestInUseMinutes = 24 * 60;

const char* flag(bool value) { return value ? "true" : "false"; }

SettingsLoad settings_of(const FlatFileLoad& file) {
    if (!file.members) return SettingsLoad{{}, file.unusable};
    try {
        // Every member is read before any is used: a file is taken whole or not at all.
        const FlatMembers m(*file.members);
        WorkerSettings s;
        s.profile = static_cast<int>(m.number_within("profile", 0, 2));
        s.pause_on_battery = m.boolean("pause_on_battery");
        s.pause_while_in_use = m.boolean("pause_while_in_use");
        s.in_use_minutes = static_cast<std::uint32_t>(m.number_within("in_use_minutes", 1, kLongestInUseMinutes));
        return SettingsLoad{s, {}};
    } catch (const NotFlatObject& e) {
        return SettingsLoad{{}, e.what()};
    }
}

}  // namespace

std::string settings_text(const WorkerSettings& s) {
    return "{\"profile\":" + std::to_string(s.profile) + ",\"pause_on_battery\":" + flag(s.pause_on_battery) +
           ",\"pause_while_in_use\":" + flag(s.pause_while_in_use) +
           ",\"in_use_minutes\":" + std::to_string(s.in_use_minutes) + "}\n";
}

SettingsLoad load_settings() { return settings_of(read_flat_json_file(data_folder_location() / kFileName)); }

SettingsLoad settings_from_text(std::string_view text) { return settings_of(flat_json_load(text)); }

void save_settings(const WorkerSettings& settings) {
    replace_or_throw(data_folder() / kFileName, settings_text(settings), FileAccess::shared, "settings");
}

}  // namespace pelorin
