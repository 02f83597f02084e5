#pragma once
// Values as every engine keeps them in its rows, read back: ranges from bound texts, unit
// sizes from decimal text, unit states from their names. A value no program wrote is a
// damaged database, said so.
#include <cstdint>
#include <string>

#include "server/store/store_types.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server {

UnitRange range_of(const std::string& begin_text, const std::string& end_text);
// Throws std::runtime_error "damaged unit size in the database: <text>".
std::uint64_t parse_unit_size(const std::string& text);
// A stored state (never `leased`); throws std::runtime_error "damaged unit state in the
// database: <text>".
UnitState stored_state(const std::string& text);

}  // namespace pelorin::server
