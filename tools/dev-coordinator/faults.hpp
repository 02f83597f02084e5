#pragma once
// Scripted faults: the next matching requests get a wrong status, a reply with a member
// missing or mangled, a late, oversized or trickling reply, or no reply at all. Tests post
// them to /dev/faults.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::devcoord {

enum class FaultAction { status, omit, malformed, stall, drop, large, trickle };

struct Fault {
    std::string path;  // the request path; '*' stands for any run of characters
    std::uint64_t count = 1;
    FaultAction action = FaultAction::status;
    int status = 500;                        // "status"
    std::string body;                        // "status"
    std::optional<std::string> retry_after;  // "status": the Retry-After header, sent as given
    std::string member;                      // "omit", "malformed"
    std::string value;                       // "malformed": raw JSON text put in place of the member's value
    double seconds = 0;                      // "stall": the wait; "trickle": the wait before each byte
    std::uint64_t bytes = 0;                 // "large": the body's length in all
    bool chunked = false;                    // "large": sent in chunks, without a Content-Length
};

// Reads a fault from the JSON body of POST /dev/faults. Throws std::invalid_argument with
// the reason when a member is missing or out of range.
Fault parse_fault(std::string_view json_text);

// Whether `path` matches `pattern`, where '*' stands for any run of characters ('/' included).
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
