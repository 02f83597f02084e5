#include "state/durable_file.hpp"

namespace pelorin {

DurableWrite write_replacing(const std::filesystem::path& path, std::string_view bytes, FileAccess access) {
    std::filesystem::path temp = path;
    temp += ".tmp";
    if (!write_file_durably(temp, bytes, access)) return DurableWrite::not_written;
    return replace_file(temp, path) ? DurableWrite::done : DurableWrite::not_committed;
}

}  // namespace pelorin
