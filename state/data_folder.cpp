#include "state/data_folder.hpp"

#include <cerrno>
#include <system_error>

#include "state/durable_file.hpp"

namespace pelorin {
namespace {

// Written once at start-up, before any thread that reads it exists.
std::filesystem::path& chosen_folder() {
    static std::filesystem::path folder;
    return folder;
}

std::filesystem::path folder_to_use() {
    if (!chosen_folder().empty()) return chosen_folder();
    if (auto service = service_state_folder()) return *service;
    return data_folder_base() / "PelorinWorker";
}

}  // namespace

void set_data_folder(const std::filesystem::path& folder) {
    chosen_folder() = folder.empty() ? folder : std::filesystem::absolute(folder);
}

std::string path_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path data_folder_location() { return folder_to_use(); }

std::filesystem::path data_folder() {
    const std::filesystem::path folder = folder_to_use();
    std::error_code ec;
    const bool created = std::filesystem::create_directories(folder, ec);
    if (ec) throw std::filesystem::filesystem_error("create_directories", folder, ec);
    // The identity and checkpoints are the user's alone from the first moment.
    if (created && !restrict_folder_to_owner(folder))
        throw std::filesystem::filesystem_error("chmod", folder, std::error_code(errno, std::generic_category()));
    return folder;
}

}  // namespace pelorin
