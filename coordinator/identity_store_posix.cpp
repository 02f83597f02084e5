#include <stdexcept>

#include "coordinator/identity_store.hpp"
#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/whole_file.hpp"

namespace pelorin {

std::string read_identity_text() {
    return read_whole_file(data_folder_location() / "identity.bin").value_or("");
}

void write_identity_text(const std::string& text) {
    const std::filesystem::path folder = data_folder();
    if (!restrict_folder_to_owner(folder)) throw std::runtime_error("Could not protect worker token");
    const std::filesystem::path final_path = folder / "identity.bin";
    std::filesystem::path temp_path = final_path;
    temp_path += ".tmp";
    if (!write_file_durably(temp_path, text, FileAccess::owner_only) || !replace_file(temp_path, final_path))
        throw std::runtime_error(kIdentityNotStored);
}

}  // namespace pelorin
