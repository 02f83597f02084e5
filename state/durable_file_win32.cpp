#include <windows.h>

#include <algorithm>

#include "state/durable_file.hpp"

namespace pelorin {
namespace {

class File {
public:
    explicit File(HANDLE h) : h_(h) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (valid()) CloseHandle(h_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    bool close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

}  // namespace

// FileAccess does not change anything here: the files live in the user's own profile folder,
// and the one secret among them (identity.bin) is protected by the user's data-protection key.
bool write_file_durably(const std::filesystem::path& path, std::string_view bytes, FileAccess) {
    File file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    while (!bytes.empty()) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), part, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    // The content must be on the disk before the move makes it the file of record.
    if (!FlushFileBuffers(file.get())) return false;
    return file.close();
}

bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    static_assert((MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 9);
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// The data folder sits in the user's profile, which is the user's own already.
bool restrict_folder_to_owner(const std::filesystem::path&) { return true; }

}  // namespace pelorin
