#include "worker/token_text.hpp"

namespace pelorin {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes of the character `want` written at text[at]: 1 as it stands, 6 as \uXXXX, 2 as \/;
// 0 when it is not there.
std::size_t character_at(std::string_view text, std::size_t at, char want) {
    if (at >= text.size()) return 0;
    if (text[at] == want) return 1;
    if (text[at] != '\\' || at + 1 >= text.size()) return 0;
    if (want == '/' && text[at + 1] == '/') return 2;
    if (text[at + 1] != 'u' || at + 6 > text.size() || static_cast<unsigned char>(want) >= 0x80) return 0;
    int code = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
        const int d = hex_digit(text[k]);
        if (d < 0) return 0;
        code = code * 16 + d;
    }
    return code == want ? 6 : 0;
}

// Bytes of the echo of `token` that starts at text[at], or 0.
std::size_t echo_at(std::string_view text, std::size_t at, std::string_view token) {
    std::size_t i = at;
    for (const char want : token) {
        const std::size_t n = character_at(text, i, want);
        if (n == 0) return 0;
        i += n;
    }
    return i - at;
}

}  // namespace

std::string without_tokens(std::string text, std::initializer_list<std::string_view> tokens) {
    for (const std::string_view token : tokens) {
        if (token.empty()) continue;
        std::string out;
        out.reserve(text.size());
        for (std::size_t at = 0; at < text.size();) {
            if (const std::size_t n = echo_at(text, at, token); n > 0) {
                out += "<token>";
                at += n;
            } else {
                out += text[at++];
            }
        }
        text = std::move(out);
    }
    return text;
}

}  // namespace pelorin
