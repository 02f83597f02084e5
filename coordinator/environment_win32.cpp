#include <windows.h>

#include <string>

#include "coordinator/environment.hpp"
#include "coordinator/windows_text.hpp"

namespace pelorin {

std::optional<std::string> environment_variable(const char* name) {
    const std::wstring wide_name = utf8_to_utf16(name);
    // The size asked for includes the terminating zero; the value may change between the two
    // calls, so ask again until it fits.
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return std::nullopt;  // unset or empty
        if (length < value.size()) {
            value.resize(length);
            return utf16_to_utf8(value);
        }
        value.assign(length, L'\0');
    }
}

}  // namespace pelorin
