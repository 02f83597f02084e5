#include "tests/server/result_bodies.hpp"

#include "engine/proof_table.hpp"
#include "engine/verify_range.hpp"
#include "state/unit_result.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::test_support {

std::string verified_body(const std::string& begin, const std::string& end) {
    const EndBound e = parse_end_bound(end);
    BackendOptions options;
    options.name = "record-recursive";
    options.threads = 2;
    const UnitResult r = verify_range(UnitRange{parse_u128(begin), e.value, e.end_is_2_128}, options);
    return "{\"result\":" + result_json(r) + "}";
}

nlohmann::ordered_json made_up_record(std::uint64_t checked, std::uint64_t checksum_sum, std::uint64_t checksum_xor) {
    const std::string n = std::to_string(checked);
    return {{"checked", n},           {"proof_exclusions", n},      {"proof_hash", proof_table_hash()},
            {"checksum_sum", checksum_sum}, {"checksum_xor", checksum_xor}, {"frontier_nodes", "0"},
            {"survivors_evaluated", "0"}, {"u64_completions", "0"},   {"u128_completions", "0"},
            {"u256_completions", "0"}, {"bigint_completions", "0"},   {"steps", "0"},
            {"elapsed_seconds", 1.5},   {"kernel_seconds", 0},        {"transfer_seconds", 0},
            {"valid", true}};
}

std::string body_of(const nlohmann::ordered_json& record) { return "{\"result\":" + record.dump() + "}"; }

}  // namespace pelorin::test_support
