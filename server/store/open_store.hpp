#pragma once
// The store a --database URL names, opened and migrated to the newest schema.
#include <memory>

#include "server/store/database_url.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

std::unique_ptr<Store> open_store(const DatabaseUrl& url);

}  // namespace pelorin::server
