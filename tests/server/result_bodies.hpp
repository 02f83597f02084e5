#pragma once
// Complete bodies for the server's process tests: a real record of a range (the engine's own,
// record-recursive on two threads) and records made up to pass the structure check.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace pelorin::test_support {

// {"result":<record>} of a real verification of [begin, end), as the worker writes it.
std::string verified_body(const std::string& begin, const std::string& end);

// A record with every member in order and of its type, `checked` starts, the known proof
// table, counters that add up and the given checksums: it passes every check but the
// checksums'.
nlohmann::ordered_json made_up_record(std::uint64_t checked, std::uint64_t checksum_sum, std::uint64_t checksum_xor);

std::string body_of(const nlohmann::ordered_json& record);

}  // namespace pelorin::test_support
