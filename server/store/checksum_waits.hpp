#pragma once
// Results whose checksums wait for their unit's recomputation: the reply they get, how they
// are judged when it ends, and the stored form of a pair. The same on every engine.
#include <cstdint>
#include <string>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// The audit of a result that waits for its unit's checksums.
inline constexpr const char* kAwaitingChecksumsAudit = "pending: waiting for its checksums to be recomputed";

// Empty when the pair a result gives is the unit's, else the reason it is refused. The reason
// names the member, never the value the starts give.
std::string checksum_refusal(const Checksums& given, const Checksums& unit);

// A 64-bit checksum or count as its stored decimal text, and back (std::runtime_error
// "damaged <what> in the database: ..." for text no program wrote).
std::string stored_u64_text(std::uint64_t value);
std::uint64_t stored_u64(const std::string& text, const char* what);

}  // namespace pelorin::server
