#include "state/durable_file.hpp"

#include <stdexcept>

namespace pelorin {

DurableWrite write_replacing(const std::filesystem::path& path, std::string_view bytes, FileAccess access) {
    std::filesystem::path temp = path;
    temp += ".tmp";
    if (!write_file_durably(temp, bytes, access)) return DurableWrite::not_written;
    return replace_file(temp, path) ? DurableWrite::done : DurableWrite::not_committed;
}

void replace_or_throw(const std::filesystem::path& path, std::string_view bytes, FileAccess access,
                      const std::string& what) {
    switch (write_replacing(path, bytes, access)) {
        case DurableWrite::done: return;
        case DurableWrite::not_written: throw std::runtime_error("Could not write " + what);
        case DurableWrite::not_committed: throw std::runtime_error("Could not commit " + what);
    }
}

}  // namespace pelorin
