#include "coordinator/identity.hpp"

#include "coordinator/identity_store.hpp"
#include "coordinator/json_text.hpp"
#include "coordinator/random_hex.hpp"
#include "coordinator/safe_text.hpp"

namespace pelorin {

std::string identity_text(const WorkerIdentity& identity) {
    return "{\"client_id\":\"" + identity.client_id + "\",\"worker_id\":\"" + identity.worker_id +
           "\",\"token\":\"" + identity.token + "\"}";
}

WorkerIdentity load_identity() {
    const std::string text = read_identity_text();
    if (text.empty()) {
        WorkerIdentity identity;
        identity.client_id = random_hex(16);
        return identity;
    }
    return identity_from_text(text);
}

WorkerIdentity identity_from_text(std::string_view text) {
    WorkerIdentity identity;
    identity.client_id = json_string_field(text, "client_id", "");
    identity.worker_id = json_string_field(text, "worker_id", "");
    identity.token = json_string_field(text, "token", "");
    require_safe_text("Stored identity holds", "client_id", identity.client_id, TextPlace::json_string);
    require_safe_text("Stored identity holds", "worker_id", identity.worker_id, TextPlace::json_string);
    require_safe_text("Stored identity holds", "token", identity.token, TextPlace::json_string);
    return identity;
}

}  // namespace pelorin
