#pragma once
// Text at the Windows interfaces: UTF-16 for the wide calls, and the text of an error code.
// Windows only (the Linux build has no use for them); windows.h stays out of this header.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

// Code page 65001 conversions with no flags: an empty text gives an empty text, and invalid
// sequences become U+FFFD, as the system's converters do by default.
std::wstring utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::wstring_view text);

// "Windows error <code> (<text>)". The text comes from the system's message table, then
// from WinHTTP's (codes 12000 to 12999), then, where this WinHTTP has no table of its own,
// from the code's name in winhttp.h; "unknown Windows error" when none knows the code.
std::string windows_error_text(std::uint32_t code);

// windows_error_text of GetLastError(), read at once.
std::string last_error_text();

}  // namespace pelorin
