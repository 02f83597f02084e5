#include "tests/support/temp_folder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pelorin::test_support {

std::filesystem::path make_temp_folder(const std::string& stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    return pattern;
}

}  // namespace pelorin::test_support
