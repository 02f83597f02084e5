// A reply outside 200..299: its status and body become the message "Coordinator error
// <status>: <body>", with the body exactly as received.
#include <cstring>
#include <string>

#include "coordinator/https_transport.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

// The first four bytes are the status; the rest is the body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t status = 0;
    std::memcpy(&status, data, 4);
    const std::string_view body = as_text(data + 4, size - 4);
    const std::string message = coordinator_error_text(status, body);
    const std::string head = "Coordinator error " + std::to_string(status) + ": ";
    expect(message.size() == head.size() + body.size() && message.starts_with(head) && message.ends_with(body),
           "status and body as received", message);
    return 0;
}
