#pragma once
// Test helpers for real files: an environment variable set for one scope, and a fresh
// temporary folder that is removed with everything in it. Texts are UTF-8 on every
// platform; paths keep the platform's wide form on Windows.
#include <filesystem>
#include <optional>
#include <string>

namespace pelorin::test {

class ScopedEnv {
public:
    // `value` absent: the variable is unset for the scope. Windows does not keep an empty
    // variable: there an empty value unsets it too.
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// The process environment as the program under test reads it (UTF-8).
std::optional<std::string> get_env(const std::string& name);
void set_env(const std::string& name, const std::optional<std::string>& value);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A temporary folder set as LOCALAPPDATA, so the data folder is <temp>/PelorinWorker (a
// service's STATE_DIRECTORY, which would come first, is unset).
class TempDataFolder {
public:
    TempDataFolder();
    std::filesystem::path folder() const { return dir_.path() / "PelorinWorker"; }
    const std::filesystem::path& base() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedEnv env_;
    ScopedEnv state_;
};

// A path as UTF-8 text, and back.
std::string utf8_of(const std::filesystem::path& path);
std::filesystem::path path_of_utf8(const std::string& text);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace pelorin::test
