#pragma once
// Reading the process environment, as UTF-8.
#include <optional>
#include <string>

namespace pelorin {

// The variable's value; absent when it is unset or empty (Windows does not tell the two apart).
std::optional<std::string> environment_variable(const char* name);

}  // namespace pelorin
