#include <cstdlib>
#include <string>
#include <system_error>

#include "state/data_folder.hpp"

namespace pelorin {
namespace {

// An unset and an empty variable mean the same, as on Windows.
const char* environment_value(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::optional<std::filesystem::path> service_state_folder() {
    const char* value = environment_value("STATE_DIRECTORY");
    if (value == nullptr) return std::nullopt;
    const std::string all = value;
    const std::string first = all.substr(0, all.find(':'));
    // systemd always gives absolute paths; anything else is not its.
    if (first.empty() || first[0] != '/') return std::nullopt;
    return std::filesystem::path(first);
}

std::filesystem::path data_folder_base() {
    if (const char* local = environment_value("LOCALAPPDATA")) return local;
    // The XDG rules ignore a relative XDG_DATA_HOME.
    if (const char* xdg = environment_value("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
    if (const char* home = environment_value("HOME")) return std::filesystem::path(home) / ".local" / "share";
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) throw std::filesystem::filesystem_error("temp_directory_path", ec);
    return temp;
}

}  // namespace pelorin
