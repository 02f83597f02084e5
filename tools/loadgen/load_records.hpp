#pragma once
// What a run keeps of every request: one JSON object per line, in the order the replies came.
//   {"worker":12,"behaviour":"duplicate","call":"complete","server":"127.0.0.1:4431",
//    "sent_ms":1765400000123.456,"done_ms":1765400000127.9,"latency_ms":4.4,"status":200,
//    "error":"","retry_after":null,"lease_id":"lease-7","begin":"4096","end":"8192",
//    "repeat":true,"wrong":false,"reply":"{...}"}
// Times are the wall clock in milliseconds since 1970; an acquire names the lease it was
// granted, a heartbeat or complete the lease it was about. `repeat` marks a duplicate
// worker's second complete, `wrong` a complete with a wrong record.
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/loadgen/https_multi.hpp"
#include "tools/loadgen/simulated_worker.hpp"

namespace pelorin::loadgen {

struct RequestRecord {
    std::size_t worker = 0;
    Behaviour behaviour = Behaviour::honest;
    Call call = Call::challenge;
    std::string server;
    StepNote note;
    HttpReply reply;
};

std::string record_line(const RequestRecord& record);

// Appends record lines to a file; does nothing without one. Throws std::runtime_error when the
// file cannot be written.
class RecordWriter {
public:
    explicit RecordWriter(const std::filesystem::path& file);
    void write(const RequestRecord& record);
    void close();

private:
    std::filesystem::path file_;
    std::ofstream out_;
};

}  // namespace pelorin::loadgen
