#pragma once
// The running program's own executable file (its digest is the build hash).
#include <filesystem>

namespace pelorin {

// Throws std::runtime_error "Could not find the program's own file" when the platform
// cannot say.
std::filesystem::path module_path();

}  // namespace pelorin
