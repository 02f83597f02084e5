#include <windows.h>

#include <string>
#include <system_error>

#include "state/data_folder.hpp"

namespace pelorin {
namespace {

// The variable's value, sized from its real length (a path may be far longer than
// MAX_PATH); empty when it is unset or empty.
std::wstring environment_value(const wchar_t* name) {
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.assign(length, L'\0');  // the size asked for, terminating zero included
    }
}

}  // namespace

// Services on Windows have no counterpart of systemd's STATE_DIRECTORY.
std::optional<std::filesystem::path> service_state_folder() { return std::nullopt; }

std::filesystem::path data_folder_base() {
    const std::wstring local = environment_value(L"LOCALAPPDATA");
    if (!local.empty()) return std::filesystem::path(local);
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) throw std::filesystem::filesystem_error("temp_directory_path", ec);
    return temp;
}

}  // namespace pelorin
