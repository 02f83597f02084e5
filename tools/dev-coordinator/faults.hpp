#pragma once
// Scripted faults: the next matching requests get a wrong status, a reply with a member
// missing or mangled, a late reply, or no reply at all. Tests post them to /dev/faults.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::devcoord {

enum class FaultAction { status, omit, malformed, stall, drop };

struct Fault {
    std::string path;  // exact path, or a prefix when it ends with '*'
    std::uint64_t count = 1;
    FaultAction action = FaultAction::status;
    int status = 500;       // "status"
    std::string body;       // "status"
    std::string member;     // "omit", "malformed"
    std::string value;      // "malformed": raw JSON text put in place of the member's value
    double seconds = 0;     // "stall"
};

// Reads a fault from the JSON body of POST /dev/faults. Throws std::invalid_argument with
// the reason when a member is missing or out of range.
Fault parse_fault(std::string_view json_text);

bool fault_path_matches(std::string_view pattern, std::string_view path);

// The reply body with the fault's member dropped ("omit") or its value replaced by the raw
// text ("malformed"; appended when the reply lacks it). A body that is not a JSON object
// is returned unchanged.
std::string apply_reply_fault(const Fault& fault, const std::string& body);

// The queue of faults, shared by the request threads.
class FaultBook {
public:
    void add(Fault fault);
    void clear();
    std::size_t size() const;
    // The first fault whose path matches, with one of its uses taken; faults are tried in
    // the order they were posted.
    std::optional<Fault> take(std::string_view path);

private:
    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
};

}  // namespace pelorin::devcoord
