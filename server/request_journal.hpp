#pragma once
// One line per request on standard error, for the system journal: time, address, method,
// path, status, milliseconds and the worker, if one was authenticated. The bearer token is
// never part of it; bytes of the path that could bend a line are written %XX.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace pelorin::server {

struct RequestRecord {
    std::chrono::system_clock::time_point at;
    std::string address;
    std::string method;
    std::string path;
    int status = 0;
    double milliseconds = 0;
    std::string worker_id;
};

// "2026-12-10T14:00:31.250Z 203.0.113.9 POST /api/v1/leases/acquire 200 3 ms w-12"
std::string journal_line(const RequestRecord& record);

class RequestJournal {
public:
    explicit RequestJournal(std::ostream& out);
    void write(const RequestRecord& record);

private:
    std::mutex mutex_;
    std::ostream& out_;
};

}  // namespace pelorin::server
