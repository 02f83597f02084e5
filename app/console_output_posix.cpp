#include <unistd.h>

#include "app/console_output.hpp"

namespace pelorin {

// Terminals take UTF-8 and the cursor movements as they are; nothing to change.
struct ConsoleOutput::Saved {};

ConsoleOutput::ConsoleOutput(std::FILE* out) : redraw_(isatty(fileno(out)) != 0) {}

ConsoleOutput::~ConsoleOutput() = default;

}  // namespace pelorin
