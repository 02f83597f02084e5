#include "server/result_check.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

#include "engine/proof_table.hpp"
#include "server/unit_checksums.hpp"
#include "wideint/biguint.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {
namespace {

using json = nlohmann::ordered_json;

StructureCheck flawed(std::string reason) {
    StructureCheck out;
    out.reason = std::move(reason);
    return out;
}

// A counter travels as a quoted decimal string.
std::optional<BigUint> counter(const json& result, const char* key) {
    const auto it = result.find(key);
    if (it == result.end() || !it->is_string()) return std::nullopt;
    const std::string& text = it->get_ref<const std::string&>();
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    return parse_biguint(text);
}

// A checksum travels as a bare unsigned 64-bit number.
std::optional<std::uint64_t> checksum(const json& result, const char* key) {
    const auto it = result.find(key);
    if (it == result.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<std::uint64_t>();
}

bool is_number(const json& result, const char* key) {
    const auto it = result.find(key);
    return it != result.end() && it->is_number();
}

std::string missing(const char* key) { return std::string("result member ") + key + " is missing or malformed"; }

}  // namespace

const std::vector<ProofScheme>& known_proof_schemes() {
    static const std::vector<ProofScheme> schemes = {
        // The CPU record-recursive backend: per-start accounting, every start's checksum.
        {proof_table_hash(), "record-recursive"},
    };
    return schemes;
}

StructureCheck check_structure(const UnitRange& unit, const json& result) {
    if (!result.is_object()) return flawed("the result is not a JSON object");
    static constexpr const char* kCounters[] = {"checked",         "proof_exclusions", "frontier_nodes",
                                                "survivors_evaluated", "u64_completions", "u128_completions",
                                                "u256_completions", "bigint_completions", "steps"};
    for (const char* key : kCounters)
        if (!counter(result, key)) return flawed(missing(key));
    for (const char* key : {"checksum_sum", "checksum_xor"})
        if (!checksum(result, key)) return flawed(missing(key));
    for (const char* key : {"elapsed_seconds", "kernel_seconds", "transfer_seconds"})
        if (!is_number(result, key)) return flawed(missing(key));
    const auto hit = result.find("proof_hash");
    if (hit == result.end() || !hit->is_string()) return flawed(missing("proof_hash"));
    const auto vit = result.find("valid");
    if (vit == result.end() || !vit->is_boolean()) return flawed(missing("valid"));

    const std::uint64_t size = unit_size(unit);
    const BigUint checked = *counter(result, "checked");
    if (!(checked == BigUint(size)))
        return flawed("checked is " + biguint_to_decimal(checked) + ", the unit has " + std::to_string(size) + " starts");

    const std::string& hash = hit->get_ref<const std::string&>();
    if (hash.empty()) return flawed("the result carries no proof hash");
    const ProofScheme* scheme = nullptr;
    for (const ProofScheme& s : known_proof_schemes())
        if (s.hash == hash) scheme = &s;
    if (scheme == nullptr) return flawed("unknown proof hash " + hash);
    // Survivor-frontier accounting sums the checksums of the candidates only; no scheme
    // above can recompute those yet.
    if (!counter(result, "frontier_nodes")->is_zero())
        return flawed("survivor-frontier results cannot be checked yet (frontier_nodes is not 0)");

    BigUint settled = *counter(result, "proof_exclusions");
    settled += *counter(result, "survivors_evaluated");
    if (!(settled == checked))
        return flawed("proof_exclusions + survivors_evaluated is " + biguint_to_decimal(settled) + ", not checked");

    if (!vit->get<bool>()) return flawed("the result reports a failed verification (valid is false)");

    StructureCheck out;
    out.passed = true;
    out.checksum_sum = *checksum(result, "checksum_sum");
    out.checksum_xor = *checksum(result, "checksum_xor");
    return out;
}

std::string checksum_mismatch(const UnitRange& unit, std::uint64_t checksum_sum, std::uint64_t checksum_xor) {
    const ChecksumPair want = unit_checksums(unit);
    if (checksum_sum != want.sum)
        return "checksum_sum is " + std::to_string(checksum_sum) + ", the unit's starts give " + std::to_string(want.sum);
    if (checksum_xor != want.xor_)
        return "checksum_xor is " + std::to_string(checksum_xor) + ", the unit's starts give " + std::to_string(want.xor_);
    return {};
}

}  // namespace pelorin::server
