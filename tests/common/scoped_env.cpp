#include "scoped_env.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace pelorin::test {

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (saved_) {
        ::setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

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

TempDataFolder::TempDataFolder() : env_("LOCALAPPDATA", dir_.path().string()) {}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace pelorin::test
