// require_safe_text on any received text, in both places: it refuses exactly the texts that
// hold a character which would end or bend a JSON string or a request path segment, with the
// message that names the member.
#include <stdexcept>
#include <string>

#include "coordinator/safe_text.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

bool holds_unsafe(std::string_view value, TextPlace place) {
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return true;
        if (place == TextPlace::path_segment && std::string_view("/?#% ").find(ch) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

// The first byte picks the place; the rest is the value.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const TextPlace place = data[0] & 1 ? TextPlace::path_segment : TextPlace::json_string;
    const std::string_view value = as_text(data + 1, size - 1);
    bool refused = false;
    try {
        require_safe_text("Coordinator sent", "lease_id", value, place);
    } catch (const std::runtime_error& e) {
        refused = true;
        expect_message(e.what(), {place == TextPlace::path_segment
                                      ? "Coordinator sent an unusable lease_id (it holds a quote, backslash, control "
                                        "character, blank, '/', '?', '#' or '%')"
                                      : "Coordinator sent an unusable lease_id (it holds a quote, backslash or "
                                        "control character)"});
    }
    expect(refused == holds_unsafe(value, place), "refused exactly when a character is unsafe there");
    return 0;
}
