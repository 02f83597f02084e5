#pragma once
// The paths and JSON bodies of the worker's requests, written as the worker sends them (no
// blanks, values unescaped, rates as a stream writes a double). The client sends them one at a
// time; the load tool sends thousands of them at once.
#include <cstdint>
#include <string>

namespace pelorin {

inline constexpr const char* kChallengePath = "/api/v1/register/challenge";
inline constexpr const char* kRegisterPath = "/api/v1/workers/register";
inline constexpr const char* kBenchmarkPath = "/api/v1/benchmarks";
inline constexpr const char* kAcquirePath = "/api/v1/leases/acquire";

// "/api/v1/leases/<lease id>/<action>". Throws std::runtime_error when the lease id holds a
// character that cannot stand in a request path.
std::string lease_path(const std::string& lease_id, const char* action);

// A rate as an output stream writes a double by default: 6 significant digits, general form.
std::string rate_text(double starts_per_second);

std::string registration_body(const std::string& challenge_id, std::uint64_t solution, const std::string& client_id,
                              const std::string& hardware_hash, const std::string& build_hash);
std::string benchmark_body(const std::string& build_hash, const std::string& backend_name, double starts_per_second);
std::string acquire_body(double starts_per_second, const std::string& proof_hash);
std::string heartbeat_body(std::uint64_t offset);
// `result_json` is the unit record's text (result_json), inserted unchanged.
std::string complete_body(const std::string& result_json);

}  // namespace pelorin
