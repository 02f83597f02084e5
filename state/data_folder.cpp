#include "state/data_folder.hpp"

#include <system_error>

namespace pelorin {

std::filesystem::path data_folder() {
    const std::filesystem::path folder = data_folder_base() / "PelorinWorker";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw std::filesystem::filesystem_error("create_directories", folder, ec);
    return folder;
}

}  // namespace pelorin
