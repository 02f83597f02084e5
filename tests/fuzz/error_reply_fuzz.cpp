// A reply outside 200..299, as the worker takes it in: its status and body become the message
// "Coordinator error <status>: <body>" with the body as received, its Retry-After header the
// delay to honour, and the message reaches a screen with every control character (bidirectional
// ones too) replaced.
#include <cstring>
#include <string>

#include "coordinator/retry_after.hpp"
#include "coordinator/transport_messages.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "worker/display_text.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

using std::chrono::seconds;

// 2026-12-10T14:00:00Z: a fixed "now", so a date's delay depends on the input alone.
const std::chrono::system_clock::time_point kNow{seconds(1796911200)};

bool all_digits(std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos; }

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

void check_retry_after(std::string_view header) {
    const auto delay = parse_retry_after(header, kNow);
    if (!delay) return;
    expect(*delay >= seconds(0) && *delay <= kMaxRetryAfter, "a delay within [0, 2^31] s", header);
    const std::string_view value = trimmed(header);
    if (all_digits(value)) {
        // delay-seconds: the number itself, capped.
        std::uint64_t n = 0;
        bool capped = false;
        for (char c : value) {
            if (n > static_cast<std::uint64_t>(kMaxRetryAfter.count())) capped = true;
            else n = n * 10 + static_cast<std::uint64_t>(c - '0');
        }
        const auto want = capped || n > static_cast<std::uint64_t>(kMaxRetryAfter.count()) ? kMaxRetryAfter
                                                                                            : seconds(n);
        expect(*delay == want, "delay-seconds read as their number", header);
        return;
    }
    // A date: ten seconds later it is ten seconds nearer, or already past.
    const auto later = parse_retry_after(header, kNow + seconds(10));
    expect(later.has_value(), "a date read once is read again", header);
    expect(*later == std::max(seconds(0), *delay - seconds(10)) || (*delay == kMaxRetryAfter && *later <= *delay),
           "a date's delay shrinks with the clock", header);
}

void check_display(const std::string& message) {
    const std::string shown = printable_text(message);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') {
            ++i;
            continue;
        }
        expect(c >= 0x20 && c != 0x7F, "no control character reaches the screen", shown);
        expect(!(c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xA0),
               "no C1 control reaches the screen", shown);
    }
    for (const std::string_view bidi : {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA", "\xE2\x80\xAB",
                                        "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7",
                                        "\xE2\x81\xA8", "\xE2\x81\xA9"})
        expect(shown.find(bidi) == std::string::npos, "no bidirectional control reaches the screen", shown);
    // What is already printable passes unchanged.
    expect(printable_text(shown) == shown, "printable text is left as it is", shown);
}

}  // namespace

// Input: a 32-bit status, the Retry-After header's value up to the first line feed, the body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t status = 0;
    std::memcpy(&status, data, 4);
    const std::string_view rest = as_text(data + 4, size - 4);
    const auto line_end = rest.find('\n');
    const std::string_view header = rest.substr(0, line_end);
    const std::string body(line_end == std::string_view::npos ? std::string_view{} : rest.substr(line_end + 1));

    const std::string message = status_error_text(status, body);
    expect(message == "Coordinator error " + std::to_string(status) + ": " + body, "status and body as received",
           message);
    check_retry_after(header);
    check_display(message);
    return 0;
}
