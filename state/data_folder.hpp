#pragma once
// The folder that holds identity.bin and checkpoint.json.
#include <filesystem>
#include <optional>
#include <string>

namespace pelorin {

// The data folder, computed afresh on every call, in this order: the folder given to
// set_data_folder(), the service's state folder, then <base>/PelorinWorker. It is created
// with any missing parents; a folder created here is made owner-only. Throws
// std::filesystem::filesystem_error naming "create_directories", "chmod" or
// "temp_directory_path".
std::filesystem::path data_folder();

// The same folder's path, without creating it: for reading what may be stored there, which
// must change nothing (a folder that does not exist holds nothing).
std::filesystem::path data_folder_location();

// The folder data_folder() returns from now on, used as is (nothing appended); a relative
// path is taken from the current working directory at this call. Set once at start-up,
// before any worker thread runs; an empty path goes back to the environment's choice.
void set_data_folder(const std::filesystem::path& folder);

// A folder's path as UTF-8 text, for messages on any platform.
std::string path_text(const std::filesystem::path& path);

// The state folder a service manager hands the program. Linux: the first of the
// colon-separated paths in STATE_DIRECTORY (systemd's StateDirectory=), when it is absolute.
// Windows: none.
std::optional<std::filesystem::path> service_state_folder();

// The platform's base folder. Linux: LOCALAPPDATA when set, else $XDG_DATA_HOME, else
// ~/.local/share, else the temporary directory. Windows: LOCALAPPDATA, else the temporary
// directory.
std::filesystem::path data_folder_base();

}  // namespace pelorin
