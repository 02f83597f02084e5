#pragma once
// What two results of the same unit are compared on. The checked count, the two checksums
// and the verdict do not depend on the backend; the sieve's counters (exclusions, survivors,
// steps, completions by width) depend only on the proof table, so they are compared when
// both copies name the same table. Elapsed times and the GPU's frontier are never compared.
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace pelorin::server {

// The compared members of a result object, as compact JSON text (the form the store keeps).
// Members that are missing or of another type are left out; result_check refuses such
// results before they are compared.
std::string comparable_text(const nlohmann::ordered_json& result);

// Whether two comparable texts (comparable_text) describe the same work.
bool copies_agree(const std::string& a, const std::string& b);

}  // namespace pelorin::server
