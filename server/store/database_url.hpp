#pragma once
// The --database URL, read in one place: which engine and what it connects to.
#include <filesystem>
#include <string>

namespace pelorin::server {

enum class DatabaseEngine { sqlite };

struct DatabaseUrl {
    DatabaseEngine engine = DatabaseEngine::sqlite;
    std::filesystem::path sqlite_path;  // sqlite:PATH
};

// Throws std::invalid_argument naming the forms understood when the text is none of them.
DatabaseUrl parse_database_url(const std::string& text);

// The default: sqlite:<data folder>/coordinator.db, where the data folder is state_dir when
// given, else the first path of systemd's STATE_DIRECTORY, else the working folder.
DatabaseUrl default_database_url(const std::string& state_dir);

}  // namespace pelorin::server
