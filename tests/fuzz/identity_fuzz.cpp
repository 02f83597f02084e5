// The identity loader on any identity.bin bytes (the Linux file holds the identity text as
// it is). What is accepted is written back to a text that loads to the same identity; a
// refusal names the member that cannot be sent or stored.
#include <stdexcept>
#include <string>

#include "coordinator/identity.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // no stored identity: a fresh one, nothing read
    WorkerIdentity identity;
    try {
        identity = identity_from_text(as_text(data, size));
    } catch (const std::runtime_error& e) {
        const std::string_view tail = " (it holds a quote, backslash or control character)";
        expect_message(e.what(), {std::string("Stored identity holds an unusable client_id").append(tail),
                                  std::string("Stored identity holds an unusable worker_id").append(tail),
                                  std::string("Stored identity holds an unusable token").append(tail)});
        return 0;
    }
    const std::string text = identity_text(identity);
    const WorkerIdentity again = identity_from_text(text);
    expect(again.client_id == identity.client_id && again.worker_id == identity.worker_id &&
               again.token == identity.token,
           "a written identity loads back the same", text);
    return 0;
}
