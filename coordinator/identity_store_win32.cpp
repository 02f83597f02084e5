// identity.bin holds the identity text protected with the user's data-protection key
// (CryptProtectData), so only this user on this computer can read it back.
#include <windows.h>
#include <dpapi.h>

#include <memory>
#include <stdexcept>

#include "coordinator/identity_store.hpp"
#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/whole_file.hpp"

namespace pelorin {
namespace {

struct LocalFreer {
    void operator()(BYTE* p) const { LocalFree(p); }
};
using LocalBytes = std::unique_ptr<BYTE, LocalFreer>;

DATA_BLOB blob_of(const std::string& bytes) {
    return DATA_BLOB{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

}  // namespace

std::string read_identity_text() {
    const std::string stored = read_whole_file(data_folder_location() / "identity.bin").value_or("");
    if (stored.empty() || stored.size() > MAXDWORD) return {};
    DATA_BLOB protected_blob = blob_of(stored);
    DATA_BLOB plain{};
    if (!CryptUnprotectData(&protected_blob, nullptr, nullptr, nullptr, nullptr, 0, &plain)) return {};
    const LocalBytes owner(plain.pbData);
    return std::string(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
}

void write_identity_text(const std::string& text) {
    if (text.size() > MAXDWORD) throw std::runtime_error("Could not protect worker token");
    DATA_BLOB plain = blob_of(text);
    DATA_BLOB protected_blob{};
    if (!CryptProtectData(&plain, L"PelorinWorker", nullptr, nullptr, nullptr, 0, &protected_blob)) {
        throw std::runtime_error("Could not protect worker token");
    }
    const LocalBytes owner(protected_blob.pbData);
    const std::string bytes(reinterpret_cast<const char*>(protected_blob.pbData), protected_blob.cbData);
    const std::filesystem::path final_path = data_folder() / "identity.bin";
    std::filesystem::path temp_path = final_path;
    temp_path += ".tmp";
    // A crash leaves the old identity or the new one, never a file cut short.
    if (!write_file_durably(temp_path, bytes, FileAccess::owner_only) || !replace_file(temp_path, final_path))
        throw std::runtime_error(kIdentityNotStored);
}

}  // namespace pelorin
