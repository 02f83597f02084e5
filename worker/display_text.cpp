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

// The bidirectional controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069): a
// text from outside could reorder what a person reads around it, as a right-to-left override
// makes "exe.txt" read "txt.exe".
bool is_bidi_control(std::string_view seq) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(seq[k]); };
    if (seq.size() == 2) return b(0) == 0xD8 && b(1) == 0x9C;
    if (seq.size() != 3 || b(0) != 0xE2) return false;
    if (b(1) == 0x80) return b(2) == 0x8E || b(2) == 0x8F || (b(2) >= 0xAA && b(2) <= 0xAE);
    return b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9;
}

std::string replaced(std::string_view text, bool keep_crlf) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (keep_crlf && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
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
            const std::string_view seq = text.substr(i, n);
            if ((c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) || is_bidi_control(seq)) out += kReplacement;
            else out.append(seq);
            i += n;
        }
    }
    return out;
}

}  // namespace

std::string printable_text(std::string_view text) { return replaced(text, true); }

std::string printable_line(std::string_view text) { return replaced(text, false); }

}  // namespace pelorin
