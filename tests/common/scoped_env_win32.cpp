#include <windows.h>

#include <random>
#include <stdexcept>
#include <system_error>

#include "scoped_env.hpp"

namespace pelorin::test {
namespace {

std::wstring wide(const std::string& utf8) { return path_of_utf8(utf8).wstring(); }

}  // namespace

// The Win32 environment block is what the program reads (GetEnvironmentVariableW).
std::optional<std::string> get_env(const std::string& name) {
    const std::wstring wide_name = wide(name);
    const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    value.resize(length);
    return utf8_of(std::filesystem::path(value));
}

void set_env(const std::string& name, const std::optional<std::string>& value) {
    const std::wstring wide_name = wide(name);
    const std::wstring wide_value = value ? wide(*value) : std::wstring();
    if (!SetEnvironmentVariableW(wide_name.c_str(), value && !value->empty() ? wide_value.c_str() : nullptr) &&
        value && !value->empty()) {
        throw std::runtime_error("cannot set " + name);
    }
}

TempDir::TempDir() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("pelorin-test-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder under " + utf8_of(base));
}

}  // namespace pelorin::test
