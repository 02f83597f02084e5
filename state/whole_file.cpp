#include "state/whole_file.hpp"

#include <fstream>
#include <iterator>

namespace pelorin {

std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
    // A read error may surface as an exception from the stream buffer (libstdc++ throws on a
    // folder opened as a file) or as the bad bit.
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return std::nullopt;
        return bytes;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace pelorin
