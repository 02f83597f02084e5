#include "worker/display_text.hpp"

namespace pelorin {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at text[i], or 0 (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF).
std::size_t sequence_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

}  // namespace

std::string printable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            i += 2;
        } else if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) out += kReplacement;
            else out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = sequence_length(text, i); n == 0) {
            out += kReplacement;
            ++i;
        } else {
            // C1 controls are C2 80 .. C2 9F in UTF-8.
            if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) out += kReplacement;
            else out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace pelorin
