#include "coordinator/request_bodies.hpp"

#include <locale>
#include <sstream>

#include "coordinator/safe_text.hpp"

namespace pelorin {

std::string lease_path(const std::string& lease_id, const char* action) {
    require_safe_text("Coordinator sent", "lease_id", lease_id, TextPlace::path_segment);
    return "/api/v1/leases/" + lease_id + "/" + action;
}

std::string rate_text(double starts_per_second) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << starts_per_second;
    return out.str();
}

std::string registration_body(const std::string& challenge_id, std::uint64_t solution, const std::string& client_id,
                              const std::string& hardware_hash, const std::string& build_hash) {
    return "{\"challenge_id\":\"" + challenge_id + "\",\"solution\":\"" + std::to_string(solution) +
           "\",\"nickname\":\"Anonymous\",\"client_id\":\"" + client_id + "\",\"hardware_hash\":\"" + hardware_hash +
           "\",\"build_hash\":\"" + build_hash + "\"}";
}

std::string benchmark_body(const std::string& build_hash, const std::string& backend_name, double starts_per_second) {
    return "{\"build_hash\":\"" + build_hash + "\",\"backend\":\"" + backend_name +
           "\",\"profile\":\"balanced\",\"starts_per_second\":" + rate_text(starts_per_second) + "}";
}

std::string acquire_body(double starts_per_second, const std::string& proof_hash) {
    return "{\"starts_per_second\":" + rate_text(starts_per_second) + ",\"proof_hash\":\"" + proof_hash + "\"}";
}

std::string heartbeat_body(std::uint64_t offset) { return "{\"progress\":\"" + std::to_string(offset) + "\"}"; }

std::string complete_body(const std::string& result_json) { return "{\"result\":" + result_json + "}"; }

}  // namespace pelorin
