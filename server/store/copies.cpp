#include "server/store/copies.hpp"

#include <nlohmann/json.hpp>

namespace pelorin::server {
namespace {

using nlohmann::json;

constexpr const char* kEveryBackend[] = {"checked", "checksum_sum", "checksum_xor", "valid"};
constexpr const char* kSameTable[] = {"proof_exclusions", "survivors_evaluated", "steps",           "u64_completions",
                                      "u128_completions", "u256_completions",    "bigint_completions"};

json parse(const std::string& text) {
    json doc = json::parse(text, nullptr, false);
    return doc.is_object() ? doc : json::object();
}

// Both copies hold the member with the same value, or (when absence is allowed) neither does.
bool same_member(const json& a, const json& b, const char* key, bool absence_allowed) {
    const auto ia = a.find(key);
    const auto ib = b.find(key);
    if (ia == a.end() || ib == b.end()) return absence_allowed && ia == a.end() && ib == b.end();
    return *ia == *ib;
}

}  // namespace

std::string comparable_text(const nlohmann::ordered_json& result) {
    json out = json::object();
    auto copy = [&](const char* key) {
        if (const auto it = result.find(key); it != result.end() && !it->is_structured()) out[key] = *it;
    };
    copy("proof_hash");
    for (const char* key : kEveryBackend) copy(key);
    for (const char* key : kSameTable) copy(key);
    return out.dump();
}

bool copies_agree(const std::string& a, const std::string& b) {
    const json ja = parse(a);
    const json jb = parse(b);
    for (const char* key : kEveryBackend)
        if (!same_member(ja, jb, key, false)) return false;
    if (!same_member(ja, jb, "proof_hash", false)) return true;
    for (const char* key : kSameTable)
        if (!same_member(ja, jb, key, true)) return false;
    return true;
}

}  // namespace pelorin::server
