#pragma once
// Connections to one SQLite file, shared by the request threads: each operation borrows one
// for its transaction and gives it back. Up to kDatabasePoolSize stay open.
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "server/store/sqlite_db.hpp"

namespace pelorin::server {

class SqlitePool {
public:
    explicit SqlitePool(std::filesystem::path path);

    class Borrowed {
    public:
        Borrowed(SqlitePool& pool, std::unique_ptr<SqliteDb> db) : pool_(pool), db_(std::move(db)) {}
        ~Borrowed() { pool_.give_back(std::move(db_)); }
        Borrowed(const Borrowed&) = delete;
        Borrowed& operator=(const Borrowed&) = delete;
        SqliteDb& operator*() { return *db_; }
        SqliteDb* operator->() { return db_.get(); }

    private:
        SqlitePool& pool_;
        std::unique_ptr<SqliteDb> db_;
    };

    Borrowed borrow();
    const std::filesystem::path& path() const { return path_; }

private:
    void give_back(std::unique_ptr<SqliteDb> db);

    std::filesystem::path path_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<SqliteDb>> idle_;
};

}  // namespace pelorin::server
