// The API's registration and benchmark exchanges.
#include <nlohmann/json.hpp>

#include "server/api.hpp"
#include "server/limits.hpp"
#include "server/network_key.hpp"
#include "server/proof_of_work.hpp"
#include "server/request_body.hpp"
#include "server/secure_random.hpp"
#include "sha256/sha256.hpp"

namespace pelorin::server {
namespace {

ApiReply json_reply(const nlohmann::json& body) {
    return ApiReply{200, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

}  // namespace

ApiReply Api::challenge(const Call&) {
    const Challenge c{"c-" + random_hex(12), random_hex(16), policy_.difficulty_bits};
    store_.add_challenge(c, kChallengeLifetimeMs, kMaxOpenChallenges);
    return json_reply({{"challenge_id", c.id}, {"nonce", c.nonce}, {"difficulty_bits", c.difficulty_bits}});
}

ApiReply Api::register_worker(const Call& call) {
    std::string error;
    const auto doc = read_json_object(call.request.body, error);
    if (!doc) return error_reply(400, error);
    Registration r;
    const auto challenge_id = string_member(*doc, "challenge_id", kMaxWorkerTextBytes, error);
    const auto solution = string_member(*doc, "solution", kMaxWorkerTextBytes, error);
    const auto client_id = string_member(*doc, "client_id", kMaxWorkerTextBytes, error);
    const auto nickname = string_member(*doc, "nickname", kMaxWorkerTextBytes, error);
    const auto hardware_hash = string_member(*doc, "hardware_hash", kMaxWorkerTextBytes, error);
    const auto build_hash = string_member(*doc, "build_hash", kMaxWorkerTextBytes, error);
    if (!challenge_id || !solution || !client_id || !nickname || !hardware_hash || !build_hash)
        return error_reply(400, error);
    if (challenge_id->empty() || solution->empty()) return error_reply(400, "challenge_id and solution are required strings");

    const auto challenge = store_.find_challenge(*challenge_id);
    if (!challenge) return error_reply(403, "unknown, used or expired challenge");
    if (!proof_of_work_holds(challenge->nonce, *solution, challenge->difficulty_bits))
        return error_reply(403, "proof of work does not reach " + std::to_string(challenge->difficulty_bits) + " zero bits");

    // The token goes to the worker once; the database keeps only its hash.
    const std::string token = random_hex(32);
    r.challenge_id = *challenge_id;
    r.client_id = *client_id;
    r.nickname = *nickname;
    r.hardware_hash = *hardware_hash;
    r.build_hash = *build_hash;
    r.address = call.request.address;
    r.network = network_key(call.request.address, policy_.trust.networks);
    r.token_hash = sha256_hex(token);
    const auto worker = store_.register_worker(r);
    if (!worker) return error_reply(403, "unknown, used or expired challenge");
    metrics_.count_registration();
    ApiReply reply = json_reply({{"worker_id", *worker}, {"token", token}});
    reply.worker_id = *worker;
    return reply;
}

ApiReply Api::benchmark(const Call& call) {
    std::string error;
    const auto doc = read_json_object(call.request.body, error);
    if (!doc) return error_reply(400, error);
    const auto build_hash = string_member(*doc, "build_hash", kMaxWorkerTextBytes, error);
    const auto backend = string_member(*doc, "backend", kMaxWorkerTextBytes, error);
    const auto profile = string_member(*doc, "profile", kMaxWorkerTextBytes, error);
    const auto rate = number_member(*doc, "starts_per_second", error);
    if (!build_hash || !backend || !profile || !rate) return error_reply(400, error);
    store_.record_benchmark(call.worker.worker_id, Benchmark{*build_hash, *backend, *profile, *rate});
    return json_reply({{"status", "recorded"}});
}

}  // namespace pelorin::server
