#pragma once
// The command-line tool's full view of a result record: every field in declaration order.
#include <string>

#include "state/unit_result.hpp"

namespace pelorin {

std::string full_record_json(const UnitResult& record);
// A JSON string literal for any UTF-8 text (quotes, backslashes and control characters escaped).
std::string json_quote(const std::string& text);

}  // namespace pelorin
