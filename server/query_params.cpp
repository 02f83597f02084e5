#include "server/query_params.hpp"

#include <algorithm>

namespace pelorin::server {
namespace {

// A parameter's name as a message may show it: printable ASCII, at most 64 bytes.
std::string shown(const std::string& name) {
    std::string out;
    for (char c : name.substr(0, 64)) out.push_back(c >= 0x20 && c < 0x7f ? c : '?');
    return out;
}

}  // namespace

QueryReader::QueryReader(const QueryParams& params) : params_(params) {}

void QueryReader::fail(std::string message) {
    if (!fault_) fault_ = std::move(message);
}

const std::string* QueryReader::value_of(const char* name) {
    known_.emplace_back(name);
    const std::string* found = nullptr;
    for (const auto& [key, value] : params_) {
        if (key != name) continue;
        if (found != nullptr) {
            fail("query parameter " + std::string(name) + " is given more than once");
            return nullptr;
        }
        found = &value;
    }
    return found;
}

int QueryReader::integer(const char* name, int min, int max, int fallback) {
    const std::string* text = value_of(name);
    if (text == nullptr) return fallback;
    // At most 9 digits: no overflow on the way, and anything longer is out of range anyway.
    long long v = 0;
    bool ok = !text->empty() && text->size() <= 9;
    for (char c : *text) ok = ok && c >= '0' && c <= '9';
    if (ok)
        for (char c : *text) v = v * 10 + (c - '0');
    if (!ok || v < min || v > max) {
        fail("query parameter " + std::string(name) + " must be a whole number from " + std::to_string(min) + " to " +
             std::to_string(max));
        return fallback;
    }
    return static_cast<int>(v);
}

std::string QueryReader::required_text(const char* name, std::size_t max_bytes) {
    const std::string* text = value_of(name);
    if (text == nullptr || text->empty()) {
        fail("query parameter " + std::string(name) + " is required");
        return {};
    }
    if (text->size() > max_bytes) {
        fail("query parameter " + std::string(name) + " is longer than " + std::to_string(max_bytes) + " bytes");
        return {};
    }
    return *text;
}

std::optional<std::string> QueryReader::fault() const {
    if (fault_) return fault_;
    for (const auto& [key, value] : params_)
        if (std::find(known_.begin(), known_.end(), key) == known_.end()) return "unknown query parameter " + shown(key);
    return std::nullopt;
}

}  // namespace pelorin::server
