#include <windows.h>

#include <stdexcept>
#include <string>

#include "coordinator/module_path.hpp"

namespace pelorin {

// The longest path the wide calls take, in UTF-16 units.
constexpr DWORD kPathUnits = 32768;

std::filesystem::path module_path() {
    std::wstring path(kPathUnits, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kPathUnits);
    // A full buffer means the path was cut short.
    if (length == 0 || length >= kPathUnits) throw std::runtime_error("Could not find the program's own file");
    path.resize(length);
    return std::filesystem::path(path);
}

}  // namespace pelorin
