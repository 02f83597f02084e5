#include "server/store/database_url.hpp"

#include <cstdlib>
#include <stdexcept>

namespace pelorin::server {
namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";
constexpr const char* kDatabaseFile = "coordinator.db";

}  // namespace

DatabaseUrl parse_database_url(const std::string& text) {
    if (text.rfind(kSqlitePrefix, 0) == 0 && text.size() > kSqlitePrefix.size()) {
        DatabaseUrl url;
        url.engine = DatabaseEngine::sqlite;
        url.sqlite_path = text.substr(kSqlitePrefix.size());
        return url;
    }
    throw std::invalid_argument("unknown database URL " + text + "; use sqlite:PATH");
}

DatabaseUrl default_database_url(const std::string& state_dir) {
    std::filesystem::path folder = state_dir;
    if (folder.empty()) {
        // systemd lists the unit's state folders separated by colons; the first is ours.
        if (const char* dirs = std::getenv("STATE_DIRECTORY"); dirs != nullptr && *dirs != '\0') {
            const std::string all = dirs;
            folder = all.substr(0, all.find(':'));
        }
    }
    if (folder.empty()) folder = ".";
    DatabaseUrl url;
    url.sqlite_path = folder / kDatabaseFile;
    return url;
}

}  // namespace pelorin::server
