#pragma once
// A reply may echo what it was sent, the bearer token included, plainly or with characters
// written as JSON escapes (tok\u002d1). No token may reach a screen or a journal.
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelorin {

// The text with every echo of each non-empty token replaced by "<token>": the token as it
// stands, or with any of its ASCII characters written as \uXXXX (either case) or, for '/', as
// \/.
std::string without_tokens(std::string text, std::initializer_list<std::string_view> tokens);

}  // namespace pelorin
