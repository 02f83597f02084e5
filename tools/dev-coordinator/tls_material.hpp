#pragma once
// The local certificate authority and the server certificate for localhost and 127.0.0.1,
// made on the first start in the state folder and reused afterwards.
#include <filesystem>

namespace pelorin::devcoord {

struct TlsFiles {
    std::filesystem::path ca_certificate;      // the file workers and tests trust
    std::filesystem::path server_certificate;
    std::filesystem::path server_key;
};

// Creates what is missing: the authority when there is none, the server certificate when
// there is none, it does not belong to the authority or its key, or it ends within
// kServerRenewDays. An authority with only one of its two files is an error
// (std::runtime_error), never silently replaced: workers may already trust it.
TlsFiles ensure_tls_material(const std::filesystem::path& state_dir);

}  // namespace pelorin::devcoord
