#pragma once
// The files this program writes for itself hold one JSON object of plain members: texts
// without escapes, unsigned integers and booleans. Read back, such a file is either whole and
// of that form or it is damaged (cut short by a crash or a full disk, edited, overwritten):
// nothing in it is taken from a damaged file.
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pelorin {

struct FlatValue {
    enum class Kind { text, number, boolean };
    Kind kind;
    std::string text;  // the text's characters, the number's digits, or "true" / "false"
};

using FlatObject = std::map<std::string, FlatValue, std::less<>>;

// Why a text is not such an object: "it is cut short", "it is malformed at byte 57" (counted
// from 1), "it holds offset twice", "it is empty".
class NotFlatObject : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Blanks may stand around every token, and one object is all there is. Strings hold no
// escape and no control character; numbers are unsigned integers without leading zeros.
// Throws NotFlatObject.
FlatObject read_flat_json_object(std::string_view text);

// The most a small file of the program's own (settings, totals) may hold.
inline constexpr std::size_t kSmallFileLimit = 64 * 1024;

// Such a file read whole: its members, or why it cannot be used ("it is larger than 65536
// bytes", "it is malformed at byte 3"); both empty when there is no file.
struct FlatFileLoad {
    std::optional<FlatObject> members;
    std::string unusable;
};
FlatFileLoad read_flat_json_file(const std::filesystem::path& path);
// The same on bytes already read.
FlatFileLoad flat_json_load(std::string_view text);

}  // namespace pelorin
