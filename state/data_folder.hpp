#pragma once
// The per-user folder that holds identity.bin and checkpoint.json.
#include <filesystem>

namespace pelorin {

// <base>/PelorinWorker, created with any missing parents; computed afresh on every call.
// Throws std::filesystem::filesystem_error naming "create_directories" or
// "temp_directory_path".
std::filesystem::path data_folder();

// The platform's base folder. Linux: LOCALAPPDATA when set, else $XDG_DATA_HOME, else
// ~/.local/share, else the temporary directory. Windows: LOCALAPPDATA, else the temporary
// directory.
std::filesystem::path data_folder_base();

}  // namespace pelorin
