// The complete reply's body: its audit text, "submitted" when it has none, and a rejection only
// from a false; never a failure.
#include <string>

#include "coordinator/coordinator_api.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = as_text(data, size);
    const Completion done = read_completion(body);
    const std::string& audit = done.audit;
    expect(!done.rejected || body.find("false") != std::string_view::npos, "a rejection only from a false", audit);
    expect(audit == "submitted" || body.find("\"audit\"") != std::string_view::npos, "an audit text from the body",
           audit);
    expect(audit.find('"') == std::string::npos, "an audit text ends at its quote", audit);
    return 0;
}
