// The acquire reply's body as the lease cycle takes it: the campaign's end, or a lease whose
// bounds parse into a range of at most 2^64 - 1 starts; otherwise the refusal of an unusable
// member or the bounds' own errors.
#include <stdexcept>
#include <string>

#include "coordinator/coordinator_api.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

void check_refusal(const std::exception& e) {
    const std::string_view message = e.what();
    if (is_bound_refusal(message)) return;
    expect_message(message, {
                                "Coordinator sent an unusable lease_id (it holds a quote, backslash, control character, "
                                "blank, '/', '?', '#' or '%')",
                                "Coordinator sent an unusable begin (it holds a quote, backslash or control character)",
                                "Coordinator sent an unusable end (it holds a quote, backslash or control character)",
                            });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const Lease lease = read_lease(as_text(data, size));
        if (lease.complete) {
            expect(lease.lease_id.empty() && lease.begin.empty() && lease.end.empty(), "nothing read after complete");
            return 0;
        }
        const U128 begin = parse_u128(lease.begin);
        const EndBound end = parse_end_bound(lease.end);
        const std::uint64_t count = unit_size(UnitRange{begin, end.value, end.end_is_2_128});
        // The last start of a non-empty range is begin + count - 1, inside 128 bits.
        bool overflow = false;
        if (count > 0) add_u64(begin, count - 1, &overflow);
        expect(!overflow, "the last start fits 128 bits");
    } catch (const std::exception& e) {
        check_refusal(e);
    }
    return 0;
}
