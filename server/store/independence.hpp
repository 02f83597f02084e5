#pragma once
// Whether two workers are independent enough for one's copy to confirm the other's result:
// another registration, another machine (hardware hash) and no network both were seen on.
// Two registrations of one cheater on one machine or one network must never confirm each other.
#include <string>
#include <vector>

namespace pelorin::server {

struct WorkerMarks {
    std::string worker_id;
    std::string hardware_hash;
    std::vector<std::string> networks;  // network keys (network_key.hpp) it registered, leased or completed from
};

bool independent(const WorkerMarks& a, const WorkerMarks& b);

}  // namespace pelorin::server
