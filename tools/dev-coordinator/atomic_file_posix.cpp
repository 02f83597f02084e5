#include "tools/dev-coordinator/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelorin::devcoord {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int err) {
    throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(err));
}

}  // namespace

void write_file_atomically(const std::filesystem::path& path, std::string_view text) {
    const std::filesystem::path temp = path.string() + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail(path, errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            fail(path, err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        fail(path, err);
    }
    if (::close(fd) != 0) fail(path, errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) fail(path, errno);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);  // the rename is done; a folder that cannot be flushed loses nothing more
        ::close(dir);
    }
}

bool read_file(const std::filesystem::path& path, std::string& text) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + path.string());
    text = all.str();
    return true;
}

}  // namespace pelorin::devcoord
