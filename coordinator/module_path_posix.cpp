#include <stdexcept>
#include <system_error>

#include "coordinator/module_path.hpp"

namespace pelorin {

std::filesystem::path module_path() {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) throw std::runtime_error("Could not find the program's own file");
    return path;
}

}  // namespace pelorin
