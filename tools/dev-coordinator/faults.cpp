#include "tools/dev-coordinator/faults.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

#include "tools/dev-coordinator/limits.hpp"

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;

std::string required_string(const ojson& doc, const char* key) {
    const auto it = doc.find(key);
    if (it == doc.end() || !it->is_string() || it->get_ref<const std::string&>().empty())
        throw std::invalid_argument(std::string("fault needs a non-empty string \"") + key + "\"");
    return it->get<std::string>();
}

bool has_control_character(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

Fault parse_fault(std::string_view json_text) {
    const ojson doc = ojson::parse(json_text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) throw std::invalid_argument("fault is not a JSON object");
    Fault f;
    f.path = required_string(doc, "path");
    if (const auto it = doc.find("count"); it != doc.end()) {
        if (!it->is_number_unsigned() || it->get<std::uint64_t>() == 0)
            throw std::invalid_argument("fault \"count\" must be a whole number of at least 1");
        f.count = it->get<std::uint64_t>();
    }
    const std::string action = required_string(doc, "action");
    if (action == "status") {
        f.action = FaultAction::status;
        const auto it = doc.find("status");
        if (it == doc.end() || !it->is_number_integer() || it->get<long long>() < 100 || it->get<long long>() > 599)
            throw std::invalid_argument("fault \"status\" must be an HTTP status from 100 to 599");
        f.status = static_cast<int>(it->get<long long>());
        if (const auto b = doc.find("body"); b != doc.end()) {
            if (!b->is_string()) throw std::invalid_argument("fault \"body\" must be a string");
            f.body = b->get<std::string>();
        }
        if (const auto r = doc.find("retry_after"); r != doc.end()) {
            // Any text a header line can carry, garbage included: clients must cope with it.
            if (!r->is_string() || has_control_character(r->get_ref<const std::string&>())) {
                throw std::invalid_argument("fault \"retry_after\" must be a string without control characters");
            }
            f.retry_after = r->get<std::string>();
        }
    } else if (action == "omit") {
        f.action = FaultAction::omit;
        f.member = required_string(doc, "member");
    } else if (action == "malformed") {
        f.action = FaultAction::malformed;
        f.member = required_string(doc, "member");
        const auto it = doc.find("value");
        if (it == doc.end() || !it->is_string()) throw std::invalid_argument("fault needs a string \"value\"");
        f.value = it->get<std::string>();
    } else if (action == "stall" || action == "trickle") {
        f.action = action == "stall" ? FaultAction::stall : FaultAction::trickle;
        const auto it = doc.find("seconds");
        if (it == doc.end() || !it->is_number() || it->get<double>() < 0 || it->get<double>() > kMaxStallSeconds)
            throw std::invalid_argument("fault \"seconds\" must be a number from 0 to " +
                                        std::to_string(static_cast<int>(kMaxStallSeconds)));
        f.seconds = it->get<double>();
    } else if (action == "drop") {
        f.action = FaultAction::drop;
    } else if (action == "large") {
        f.action = FaultAction::large;
        const auto it = doc.find("bytes");
        if (it == doc.end() || !it->is_number_unsigned() || it->get<std::uint64_t>() == 0 ||
            it->get<std::uint64_t>() > kMaxLargeBodyBytes)
            throw std::invalid_argument("fault \"bytes\" must be a whole number from 1 to " +
                                        std::to_string(kMaxLargeBodyBytes));
        f.bytes = it->get<std::uint64_t>();
        if (const auto c = doc.find("chunked"); c != doc.end()) {
            if (!c->is_boolean()) throw std::invalid_argument("fault \"chunked\" must be true or false");
            f.chunked = c->get<bool>();
        }
    } else {
        throw std::invalid_argument("fault \"action\" must be status, omit, malformed, stall, drop, large or trickle");
    }
    return f;
}

bool fault_path_matches(std::string_view pattern, std::string_view path) {
    // Wildcard matching that backtracks to the last '*' only: linear enough for request paths.
    std::size_t p = 0, s = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (s < path.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = s;
        } else if (p < pattern.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string apply_reply_fault(const Fault& fault, const std::string& body) {
    if (fault.action != FaultAction::omit && fault.action != FaultAction::malformed) return body;
    const ojson doc = ojson::parse(body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return body;
    // Written member by member, so that a raw value can stand where JSON text would.
    std::string out = "{";
    bool placed = false;
    auto append = [&out](const std::string& key, const std::string& value_text) {
        if (out.size() > 1) out += ',';
        out += ojson(key).dump() + ":" + value_text;
    };
    for (const auto& item : doc.items()) {
        if (item.key() != fault.member) {
            append(item.key(), item.value().dump());
        } else if (fault.action == FaultAction::malformed) {
            append(item.key(), fault.value);
            placed = true;
        }
    }
    if (fault.action == FaultAction::malformed && !placed) append(fault.member, fault.value);
    return out + "}";
}

void FaultBook::add(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void FaultBook::clear() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::size_t FaultBook::size() const {
    std::lock_guard lock(mutex_);
    return faults_.size();
}

std::optional<Fault> FaultBook::take(std::string_view path) {
    std::lock_guard lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!fault_path_matches(it->path, path)) continue;
        Fault taken = *it;
        if (--it->count == 0) faults_.erase(it);
        return taken;
    }
    return std::nullopt;
}

}  // namespace pelorin::devcoord
