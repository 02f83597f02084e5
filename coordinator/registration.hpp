#pragma once
// Registration: fetch a challenge, solve its proof of work, register, store the identity.
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "coordinator/identity.hpp"

namespace pelorin {

// Returns `identity` with worker_id and token filled, after storing it in identity.bin.
// `post_status` receives the status text shown while the challenge is solved; a request on
// `stop` ends that search with "Stopped". Throws the transport's errors, "Registration
// response was incomplete", the refusal of a challenge beyond 256 bits or of an unusable
// challenge_id, worker_id or token, and "Could not protect worker token"; after any failure
// nothing has been stored.
WorkerIdentity register_worker(WorkerIdentity identity, const std::string& build_hash,
                               const std::string& hardware_hash,
                               const std::function<void(const std::string&)>& post_status, std::stop_token stop);

// A challenge reply's members. Throws the refusal of a challenge beyond 256 bits or of an
// unusable challenge_id.
struct Challenge {
    std::string nonce;
    std::string challenge_id;
    std::uint64_t difficulty_bits = 0;
};
Challenge read_challenge(std::string_view body);

// `identity` with the worker_id and token of a registration reply's body. Throws
// "Registration response was incomplete" or the refusal of an unusable worker_id or token.
WorkerIdentity read_registration(WorkerIdentity identity, std::string_view body);

}  // namespace pelorin
