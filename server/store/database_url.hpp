#pragma once
// The --database URL, read in one place: which engine and what it connects to.
#include <filesystem>
#include <string>

namespace pelorin::server {

enum class DatabaseEngine { sqlite, postgresql };

struct DatabaseUrl {
    DatabaseEngine engine = DatabaseEngine::sqlite;
    std::filesystem::path sqlite_path;  // sqlite:PATH
    std::string postgresql_url;         // postgresql://... or postgres://..., a libpq URI as given
};

// Throws std::invalid_argument naming the forms understood when the text is none of them.
DatabaseUrl parse_database_url(const std::string& text);

// The default: sqlite:<data folder>/coordinator.db, where the data folder is state_dir when
// given, else the first path of systemd's STATE_DIRECTORY, else the working folder.
DatabaseUrl default_database_url(const std::string& state_dir);

// The URL as messages may show it: a password in its user part or its parameters is replaced
// by "***", so errors and journals never hold it.
std::string url_without_password(const std::string& text);

}  // namespace pelorin::server
