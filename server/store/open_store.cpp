#include "server/store/open_store.hpp"

#include "server/store/postgres_store.hpp"
#include "server/store/sqlite_store.hpp"

namespace pelorin::server {

std::unique_ptr<Store> open_store(const DatabaseUrl& url) {
    switch (url.engine) {
        case DatabaseEngine::sqlite: return std::make_unique<SqliteStore>(url.sqlite_path);
        case DatabaseEngine::postgresql: return std::make_unique<PostgresStore>(url.postgresql_url);
    }
    return nullptr;
}

}  // namespace pelorin::server
