#include "scoped_env.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace pelorin::test {

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), saved_(get_env(name_)) {
    set_env(name_, value);
}

ScopedEnv::~ScopedEnv() { set_env(name_, saved_); }

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have left a folder without write permission behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                                               std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

TempDataFolder::TempDataFolder() : env_("LOCALAPPDATA", utf8_of(dir_.path())), state_("STATE_DIRECTORY", std::nullopt) {}

std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path path_of_utf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + utf8_of(path));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + utf8_of(path));
}

}  // namespace pelorin::test
