#include "server/store/independence.hpp"

#include <algorithm>

namespace pelorin::server {

bool independent(const WorkerMarks& a, const WorkerMarks& b) {
    if (a.worker_id == b.worker_id || a.hardware_hash == b.hardware_hash) return false;
    return std::none_of(a.networks.begin(), a.networks.end(), [&](const std::string& n) {
        return std::find(b.networks.begin(), b.networks.end(), n) != b.networks.end();
    });
}

}  // namespace pelorin::server
