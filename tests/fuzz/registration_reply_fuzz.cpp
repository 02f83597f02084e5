// The registration reply's body: the worker id and token, or "Registration response was
// incomplete", or the refusal of a member that cannot be sent or stored. What is accepted
// keeps the client id and has both members.
#include <stdexcept>
#include <string>

#include "coordinator/registration.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string tail = " (it holds a quote, backslash or control character)";
    WorkerIdentity identity{"0123456789abcdef0123456789abcdef", "", ""};
    try {
        identity = read_registration(identity, as_text(data, size));
    } catch (const std::runtime_error& e) {
        expect_message(e.what(), {"Registration response was incomplete", "Coordinator sent an unusable worker_id" + tail,
                                  "Coordinator sent an unusable token" + tail});
        return 0;
    }
    expect(identity.client_id == "0123456789abcdef0123456789abcdef", "the client id is kept");
    expect(!identity.worker_id.empty() && !identity.token.empty(), "both members present");
    return 0;
}
