#include "server/request_journal.hpp"

#include <cmath>

#include "server/utc_time.hpp"

namespace pelorin::server {
namespace {

std::string line_safe(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7f || c == '%') {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out.empty() ? "-" : out;
}

}  // namespace

std::string journal_line(const RequestRecord& r) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(r.at.time_since_epoch()).count();
    return utc_text(ms, true) + " " + line_safe(r.address) + " " + line_safe(r.method) + " " + line_safe(r.path) + " " +
           std::to_string(r.status) + " " + std::to_string(std::llround(r.milliseconds)) + " ms " +
           line_safe(r.worker_id);
}

RequestJournal::RequestJournal(std::ostream& out) : out_(out) {}

void RequestJournal::write(const RequestRecord& record) {
    const std::string line = journal_line(record) + "\n";
    std::lock_guard lock(mutex_);
    out_ << line << std::flush;
}

}  // namespace pelorin::server
