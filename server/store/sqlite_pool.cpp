#include "server/store/sqlite_pool.hpp"

#include "server/store/store_limits.hpp"

namespace pelorin::server {

SqlitePool::SqlitePool(std::filesystem::path path) : path_(std::move(path)) {}

SqlitePool::Borrowed SqlitePool::borrow() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<SqliteDb> db = std::move(idle_.back());
            idle_.pop_back();
            return Borrowed(*this, std::move(db));
        }
    }
    return Borrowed(*this, std::make_unique<SqliteDb>(path_));
}

void SqlitePool::give_back(std::unique_ptr<SqliteDb> db) {
    if (!db) return;
    std::lock_guard lock(mutex_);
    if (idle_.size() < kDatabasePoolSize) idle_.push_back(std::move(db));
}

}  // namespace pelorin::server
