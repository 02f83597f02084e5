#pragma once
// Files that are replaced whole and must survive a crash or power loss at any moment: the
// content is written to a temporary file and forced to disk, then moved over the old file,
// and the move itself is made durable. The old file stays intact until the move.
#include <filesystem>
#include <string>
#include <string_view>

namespace pelorin {

enum class FileAccess {
    shared,      // the platform's default permissions
    owner_only,  // readable and writable by the owner alone (POSIX mode 0600)
};

// Creates or truncates `path`, writes `bytes` and flushes them to the disk. False on any
// failure (the file may then hold part of the bytes).
bool write_file_durably(const std::filesystem::path& path, std::string_view bytes, FileAccess access);

// Moves `from` onto `to`, replacing it, and flushes the folder entry. False when the move
// failed (`from` is left in place).
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

enum class DurableWrite {
    done,
    not_written,    // the temporary file could not be written whole (a full disk, no room)
    not_committed,  // the move onto `path` failed; the temporary file is left behind
};

// The whole replace: `bytes` written durably to `path` + ".tmp", then moved onto `path`. The
// old file stays intact unless this returns done.
DurableWrite write_replacing(const std::filesystem::path& path, std::string_view bytes, FileAccess access);
// The same, its failures thrown as std::runtime_error "Could not write " + what or "Could not
// commit " + what.
void replace_or_throw(const std::filesystem::path& path, std::string_view bytes, FileAccess access,
                      const std::string& what);

// Makes `folder` accessible to its owner alone (POSIX mode 0700). False on failure.
bool restrict_folder_to_owner(const std::filesystem::path& folder);

}  // namespace pelorin
