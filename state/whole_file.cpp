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

SmallFile read_small_file(const std::filesystem::path& path, std::size_t limit) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return {};
        std::string bytes(limit + 1, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (in.bad()) return {};
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > limit) return SmallFile{std::nullopt, true};
        return SmallFile{std::move(bytes), false};
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace pelorin
