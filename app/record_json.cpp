#include "app/record_json.hpp"

#include <cstdio>
#include <sstream>

namespace pelorin {

std::string json_quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out + "\"";
}

std::string full_record_json(const UnitResult& r) {
    std::ostringstream o;
    auto counter = [&](const char* key, const BigUint& v) { o << ",\"" << key << "\":\"" << v << "\""; };
    auto text = [&](const char* key, const std::string& v) { o << ",\"" << key << "\":" << json_quote(v); };
    o << "{\"format\":" << json_quote(r.format);
    text("mode", r.mode);
    text("backend", r.backend);
    text("begin", r.begin);
    text("end", r.end);
    counter("checked", r.checked);
    counter("candidates", r.candidates);
    counter("survivors_evaluated", r.survivors_evaluated);
    counter("steps", r.steps);
    counter("overflow_starts", r.overflow_starts);
    o << ",\"checksum_sum\":" << r.checksum_sum << ",\"checksum_xor\":" << r.checksum_xor;
    counter("proof_exclusions", r.proof_exclusions);
    counter("frontier_nodes", r.frontier_nodes);
    counter("u64_completions", r.u64_completions);
    counter("u128_completions", r.u128_completions);
    counter("u256_completions", r.u256_completions);
    counter("bigint_completions", r.bigint_completions);
    text("proof_hash", r.proof_hash);
    text("accounting", r.accounting);
    o << ",\"elapsed_seconds\":" << format_seconds(r.elapsed_seconds)
      << ",\"kernel_seconds\":" << format_seconds(r.kernel_seconds)
      << ",\"transfer_seconds\":" << format_seconds(r.transfer_seconds)
      << ",\"valid\":" << (r.valid ? "true" : "false");
    text("message", r.message);
    o << "}";
    return o.str();
}

}  // namespace pelorin
