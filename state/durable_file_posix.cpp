#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "state/durable_file.hpp"

namespace pelorin {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // close() reports late write errors on some file systems, so it counts as part of the write.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool write_file_durably(const std::filesystem::path& path, std::string_view bytes, FileAccess access) {
    const mode_t mode = access == FileAccess::owner_only ? 0600 : 0666;
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd.get() < 0) return false;
    // A file left over from an earlier run keeps its old mode under O_TRUNC.
    if (access == FileAccess::owner_only && ::fchmod(fd.get(), 0600) != 0) return false;
    if (!write_all(fd.get(), bytes)) return false;
    if (::fsync(fd.get()) != 0) return false;
    return fd.close();
}

bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename is done; syncing the folder only makes it durable, so its failure is not
    // a failed move.
    const std::filesystem::path folder = to.has_parent_path() ? to.parent_path() : std::filesystem::path(".");
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

bool restrict_folder_to_owner(const std::filesystem::path& folder) {
    return ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace pelorin
