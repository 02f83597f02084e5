#include <cstdlib>

#include "coordinator/environment.hpp"

namespace pelorin {

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

}  // namespace pelorin
