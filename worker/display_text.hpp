#pragma once
// Texts on their way to a screen (the window's panel, a terminal, a journal). Parts of them
// come from outside (error bodies, audit texts): a control character there could clear a
// terminal, move its cursor or set its title, so every one is replaced before it is shown.
#include <string>
#include <string_view>

namespace pelorin {

// The text with CR LF pairs kept and every other C0 control, DEL, C1 control (U+0080 to
// U+009F), bidirectional control (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069) and byte that is not part of well-formed UTF-8 replaced by U+FFFD. The status
// texts of the worker pass through unchanged.
std::string printable_text(std::string_view text);

// The same for a text that must stay on one line (a field of an operator's listing): CR LF
// is replaced too, so a text from outside cannot add a line of its own.
std::string printable_line(std::string_view text);

}  // namespace pelorin
