#pragma once
// The public names of workers ("w-12") and leases ("lease-7") and the row numbers behind
// them. Any other text names nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelorin::server {

std::string worker_name(std::int64_t number);
std::string lease_name(std::int64_t number);
std::optional<std::int64_t> worker_number(std::string_view name);
std::optional<std::int64_t> lease_number(std::string_view name);

}  // namespace pelorin::server
