#pragma once
// A fresh folder under the temporary directory for a server's state; the caller removes it.
#include <filesystem>
#include <string>

namespace pelorin::test_support {

// <tmp>/<stem>-XXXXXX. Throws std::runtime_error when it cannot be made.
std::filesystem::path make_temp_folder(const std::string& stem);

}  // namespace pelorin::test_support
