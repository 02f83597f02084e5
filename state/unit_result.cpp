#include "state/unit_result.hpp"

#include <cstdio>
#include <sstream>

namespace pelorin {

void merge(UnitResult& into, const UnitResult& from) {
    if (into.proof_hash.empty()) {
        into.proof_hash = from.proof_hash;
    } else if (!from.proof_hash.empty() && from.proof_hash != into.proof_hash) {
        into.valid = false;
        into.message += "proof table hash mismatch; ";
    }
    into.checked += from.checked;
    into.candidates += from.candidates;
    into.survivors_evaluated += from.survivors_evaluated;
    into.steps += from.steps;
    into.overflow_starts += from.overflow_starts;
    into.proof_exclusions += from.proof_exclusions;
    into.frontier_nodes += from.frontier_nodes;
    into.u64_completions += from.u64_completions;
    into.u128_completions += from.u128_completions;
    into.u256_completions += from.u256_completions;
    into.bigint_completions += from.bigint_completions;
    into.checksum_sum += from.checksum_sum;
    into.checksum_xor ^= from.checksum_xor;
    into.valid = into.valid && from.valid;
    if (!from.message.empty()) {
        if (!into.message.empty()) into.message += "; ";
        into.message += from.message;
    }
    into.elapsed_seconds += from.elapsed_seconds;
    into.kernel_seconds += from.kernel_seconds;
    into.transfer_seconds += from.transfer_seconds;
}

std::string format_seconds(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.12g", value);
    return buf;
}

std::string result_json(const UnitResult& r) {
    std::ostringstream out;
    out << "{\"checked\":\"" << r.checked << "\",\"proof_exclusions\":\"" << r.proof_exclusions
        << "\",\"proof_hash\":\"" << r.proof_hash << "\",\"checksum_sum\":" << r.checksum_sum
        << ",\"checksum_xor\":" << r.checksum_xor << ",\"frontier_nodes\":\"" << r.frontier_nodes
        << "\",\"survivors_evaluated\":\"" << r.survivors_evaluated << "\",\"u64_completions\":\""
        << r.u64_completions << "\",\"u128_completions\":\"" << r.u128_completions
        << "\",\"u256_completions\":\"" << r.u256_completions << "\",\"bigint_completions\":\""
        << r.bigint_completions << "\",\"steps\":\"" << r.steps
        << "\",\"elapsed_seconds\":" << format_seconds(r.elapsed_seconds)
        << ",\"kernel_seconds\":" << format_seconds(r.kernel_seconds)
        << ",\"transfer_seconds\":" << format_seconds(r.transfer_seconds)
        << ",\"valid\":" << (r.valid ? "true" : "false") << "}";
    return out.str();
}

}  // namespace pelorin
