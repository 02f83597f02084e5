#pragma once
// The server's reader of request bodies: strict JSON (RFC 8259, UTF-8, no comments), one
// object, no member named twice, nested no deeper than kMaxJsonDepth. The worker writes its
// bodies without escaping; whatever arrives is only ever used for its values.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pelorin::server {

// The body as a JSON object, or nothing with the reason in `error` ("the request body is
// not JSON: ...", "... is not a JSON object", "... names the member <m> twice", "... nests
// too deeply").
// Members keep the order they were sent in.
std::optional<nlohmann::ordered_json> read_json_object(std::string_view body, std::string& error);

// A member that must be a string when present: its value, "" when absent; nothing when it
// is of another type or longer than max_bytes (the reason in `error`).
std::optional<std::string> string_member(const nlohmann::ordered_json& object, const char* key, std::size_t max_bytes,
                                         std::string& error);

// A member that must be a number when present: its value, 0 when absent; nothing when it is
// of another type or not finite.
std::optional<double> number_member(const nlohmann::ordered_json& object, const char* key, std::string& error);

}  // namespace pelorin::server
