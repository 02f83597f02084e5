#pragma once
// Who this worker is to the coordinator: a client id of its own choosing, and the worker id
// and bearer token issued at registration. Stored in identity.bin in the data folder.
#include <string>
#include <string_view>

namespace pelorin {

struct WorkerIdentity {
    std::string client_id;  // 32 lower-case hex digits, chosen when no identity is stored
    std::string worker_id;  // empty until registration
    std::string token;      // empty until registration; the bearer token of every later request
};

// {"client_id":"...","worker_id":"...","token":"..."}, no blanks, values as they stand.
std::string identity_text(const WorkerIdentity& identity);

// The stored identity, or a fresh random client id with empty worker id and token when
// nothing readable is stored (nothing is written). Throws std::runtime_error when a stored
// member holds a character that cannot be sent or stored again; the file stays as it is.
WorkerIdentity load_identity();

// The members of a stored identity text that is not empty, with the checks of load_identity.
WorkerIdentity identity_from_text(std::string_view text);

}  // namespace pelorin
