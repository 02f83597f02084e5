#include "coordinator/registration.hpp"

#include <stdexcept>
#include <utility>

#include "coordinator/https_transport.hpp"
#include "coordinator/identity_store.hpp"
#include "coordinator/json_text.hpp"
#include "coordinator/proof_of_work.hpp"
#include "coordinator/request_bodies.hpp"
#include "coordinator/safe_text.hpp"

namespace pelorin {
namespace {

// The difficulty when a challenge does not name one.
constexpr std::uint64_t kDefaultDifficultyBits = 18;

}  // namespace

WorkerIdentity register_worker(WorkerIdentity identity, const std::string& build_hash,
                               const std::string& hardware_hash,
                               const std::function<void(const std::string&)>& post_status, std::stop_token stop) {
    const Challenge challenge = read_challenge(https_request("GET", kChallengePath, "", "").body);
    const std::string& nonce = challenge.nonce;
    const std::string& challenge_id = challenge.challenge_id;
    const std::uint64_t difficulty = challenge.difficulty_bits;

    post_status("Registering public worker...\r\nSolving short anti-abuse challenge.");
    const std::uint64_t solution = solve_challenge(nonce, difficulty, stop);

    const HttpsResponse reply = https_request(
        "POST", kRegisterPath, registration_body(challenge_id, solution, identity.client_id, hardware_hash, build_hash), "");
    identity = read_registration(std::move(identity), reply.body);
    write_identity_text(identity_text(identity));
    return identity;
}

Challenge read_challenge(std::string_view body) {
    Challenge challenge;
    challenge.nonce = json_string_field(body, "nonce", "");
    challenge.challenge_id = json_string_field(body, "challenge_id", "");
    challenge.difficulty_bits = json_u64_field(body, "difficulty_bits", kDefaultDifficultyBits);
    require_safe_text("Coordinator sent", "challenge_id", challenge.challenge_id, TextPlace::json_string);
    require_reachable_difficulty(challenge.difficulty_bits);
    return challenge;
}

WorkerIdentity read_registration(WorkerIdentity identity, std::string_view body) {
    identity.worker_id = json_string_field(body, "worker_id", "");
    identity.token = json_string_field(body, "token", "");
    if (identity.worker_id.empty() || identity.token.empty()) {
        throw std::runtime_error("Registration response was incomplete");
    }
    require_safe_text("Coordinator sent", "worker_id", identity.worker_id, TextPlace::json_string);
    require_safe_text("Coordinator sent", "token", identity.token, TextPlace::json_string);
    return identity;
}

}  // namespace pelorin
