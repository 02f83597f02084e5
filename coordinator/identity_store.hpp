#pragma once
// identity.bin in the data folder, protected by the platform: on Linux a file of mode 0600
// in a folder of mode 0700, on Windows the user's data-protection key.
#include <string>

namespace pelorin {

// The stored identity text, or empty when there is no readable (or no decryptable) file.
std::string read_identity_text();

// Stores `text` through a temporary file that replaces identity.bin only once it is on
// disk, so a crash leaves the old identity or the new one. Throws std::runtime_error "Could
// not protect worker token" when the protection cannot be applied (nothing is written), and
// "Could not store worker identity" when the file cannot be written or put in place: a worker
// that went on would register anew on every start and orphan the leases of the last.
void write_identity_text(const std::string& text);

inline constexpr const char* kIdentityNotStored = "Could not store worker identity";

}  // namespace pelorin
