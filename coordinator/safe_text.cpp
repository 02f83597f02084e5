#include "coordinator/safe_text.hpp"

#include <stdexcept>
#include <string>

namespace pelorin {
namespace {

bool breaks_json_string(unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c == 0x7f; }

bool breaks_path_segment(unsigned char c) {
    return breaks_json_string(c) || c == '/' || c == '?' || c == '#' || c == '%' || c == ' ';
}

}  // namespace

void require_safe_text(std::string_view source, std::string_view member, std::string_view value,
                       TextPlace place) {
    const bool path = place == TextPlace::path_segment;
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (path ? breaks_path_segment(c) : breaks_json_string(c)) {
            throw std::runtime_error(std::string(source) + " an unusable " + std::string(member) +
                                     (path ? " (it holds a quote, backslash, control character, blank, '/', '?', "
                                             "'#' or '%')"
                                           : " (it holds a quote, backslash or control character)"));
        }
    }
}

}  // namespace pelorin
