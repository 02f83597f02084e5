#pragma once
// Random identifiers from the operating system's secure generator.
#include <cstddef>
#include <string>

namespace pelorin {

// `byte_count` random bytes, each as two lower-case hex digits. Throws std::runtime_error
// "secure random generator failed".
std::string random_hex(std::size_t byte_count);

// Fills `size` bytes at `out`; false when the generator cannot deliver them.
bool secure_random_bytes(void* out, std::size_t size);

}  // namespace pelorin
