#pragma once
// Texts that arrive from the coordinator or from a local file and are later written,
// unescaped, into a JSON string, a request path or a header. A character that would end or
// bend that text is refused before the text is used anywhere.
#include <string_view>

namespace pelorin {

enum class TextPlace {
    json_string,   // refuses double quote, backslash and control characters
    path_segment,  // also '/', '?', '#', '%' and blanks
};

// Throws std::runtime_error "<source> an unusable <member> (it holds ...)", for example
// "Coordinator sent an unusable lease_id (it holds ...)".
void require_safe_text(std::string_view source, std::string_view member, std::string_view value,
                       TextPlace place);

}  // namespace pelorin
