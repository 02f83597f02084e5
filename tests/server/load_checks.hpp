#pragma once
// The independent check of a load run under faults, over what the server exported and what
// the load tool recorded, sharing nothing with the server's own bookkeeping:
//   - every unit of the campaign validated exactly once, with the checksums its starts give;
//   - no unit ever had two live leases at once;
//   - no result accepted under a stale lease (while another lease of the unit was live);
//   - no wrong record accepted;
//   - every complete of a lease that got a reply got the same one;
//   - the validated prefix never moved backwards, and ends at the campaign's end;
//   - every 503 named a Retry-After, so workers wait instead of hammering.
// A lease counts as live only where the records prove it: from the reply that granted or
// prolonged it until the lease time-out after that request was sent, or until a complete of it
// was sent. Times are the machine's wall clock, which the database shares.
#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::server::test {

// One line of `export --json`.
struct ExportedUnit {
    std::string begin;
    std::string end;
    std::string worker_id;
    std::string result;  // the record's JSON text
};

// One line of the load tool's records (the members the check reads).
struct LoadRecord {
    std::string call;  // acquire, heartbeat, complete, ...
    long status = 0;
    double sent_ms = 0;
    double done_ms = 0;
    std::string lease_id;
    std::string begin;
    bool repeat = false;
    bool wrong = false;
    bool retry_after = false;  // the reply named one
    std::string reply;
};

struct LoadCheckInput {
    std::uint64_t begin = 0;  // the campaign [begin, end) in units of unit_size
    std::uint64_t end = 0;
    std::uint64_t unit_size = 0;
    double lease_timeout_ms = 0;
    std::vector<ExportedUnit> exported;
    std::vector<LoadRecord> records;
    std::vector<std::string> validated_below;  // status samples in the order taken
};

// Every violation found, each a sentence naming its unit, leases and times; none when the run
// was sound.
std::vector<std::string> check_load_run(const LoadCheckInput& input);

// Parsers of the two files' lines; throw std::runtime_error naming the line when malformed.
ExportedUnit exported_unit_of(const std::string& line);
LoadRecord load_record_of(const std::string& line);

}  // namespace pelorin::server::test
