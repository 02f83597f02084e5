#pragma once
// Reading single members out of raw JSON text. Nothing is parsed into a tree: each reader
// finds the first occurrence of "key" followed by optional blanks, a colon, optional blanks
// and a value of its form, at any nesting depth, and returns the default otherwise.
//
// The match is the one of the patterns
//   \"key\"\s*:\s*\"([^\"]*)\"   (string: the characters between the quotes, undecoded)
//   \"key\"\s*:\s*([0-9]+)       (number: the digit run; 12.5 reads as 12, -1 not at all)
//   \"key\"\s*:\s*(true|false)   (boolean)
// where \s is one of space, tab, line feed, vertical tab, form feed, carriage return.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

std::string json_string_field(std::string_view text, std::string_view key, std::string default_text);
// Throws std::out_of_range "stoull argument out of range" when the digits exceed 64 bits.
std::uint64_t json_u64_field(std::string_view text, std::string_view key, std::uint64_t default_value);
bool json_bool_field(std::string_view text, std::string_view key, bool default_value);

}  // namespace pelorin
