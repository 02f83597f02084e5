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
