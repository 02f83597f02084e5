#include "server/result_check.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "engine/proof_table.hpp"
#include "server/limits.hpp"
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

// Whether a > b.
bool exceeds(const BigUint& a, const BigUint& b) {
    const auto& x = a.limbs();
    const auto& y = b.limbs();
    if (x.size() != y.size()) return x.size() > y.size();
    return std::lexicographical_compare(y.rbegin(), y.rend(), x.rbegin(), x.rend());
}

// A time travels as a bare number; a negative or endless one is no time a run took.
std::optional<double> seconds(const json& result, const char* key) {
    const auto it = result.find(key);
    if (it == result.end() || !it->is_number()) return std::nullopt;
    const double value = it->get<double>();
    if (!std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

std::string missing(const char* key) { return std::string("result member ") + key + " is missing or malformed"; }

}  // namespace

const std::vector<std::string>& result_record_members() {
    static const std::vector<std::string> members = {
        "checked",          "proof_exclusions",   "proof_hash",      "checksum_sum",    "checksum_xor",
        "frontier_nodes",   "survivors_evaluated", "u64_completions", "u128_completions", "u256_completions",
        "bigint_completions", "steps",            "elapsed_seconds", "kernel_seconds",  "transfer_seconds",
        "valid"};
    return members;
}

std::optional<std::string> foreign_member(const json& result) {
    const auto& members = result_record_members();
    for (const auto& [key, value] : result.items())
        if (std::find(members.begin(), members.end(), key) == members.end())
            return key.size() <= kMaxNamedMemberBytes ? key : key.substr(0, kMaxNamedMemberBytes) + "...";
    return std::nullopt;
}

json normalised_record(const json& result) {
    json out = json::object();
    for (const std::string& key : result_record_members())
        if (const auto it = result.find(key); it != result.end()) out[key] = *it;
    return out;
}

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
        if (!seconds(result, key)) return flawed(std::string(key) + " is not a finite number of seconds of at least 0");
    const auto hit = result.find("proof_hash");
    if (hit == result.end() || !hit->is_string()) return flawed(missing("proof_hash"));
    const auto vit = result.find("valid");
    if (vit == result.end() || !vit->is_boolean()) return flawed(missing("valid"));

    const std::uint64_t size = unit_size(unit);
    const BigUint checked = *counter(result, "checked");
    if (!(checked == BigUint(size))) return flawed("checked is not the unit's number of starts");
    // Each start is excluded, evaluated, completed in one width at most, and walks a bounded
    // number of steps.
    for (const char* key : {"proof_exclusions", "survivors_evaluated", "u64_completions",
                            "u128_completions", "u256_completions", "bigint_completions"})
        if (exceeds(*counter(result, key), checked)) return flawed(std::string(key) + " exceeds the unit's number of starts");
    // size * kMaxStepsPerStart in two limbs (the factor is below 2^32).
    const std::uint64_t high_part = (size >> 32) * kMaxStepsPerStart, low_part = (size & 0xFFFFFFFFu) * kMaxStepsPerStart;
    const std::uint64_t low = (high_part << 32) + low_part;
    const BigUint step_bound = BigUint::from_limbs({low, (high_part >> 32) + (low < low_part ? 1 : 0)});
    if (exceeds(*counter(result, "steps"), step_bound)) return flawed("steps exceeds what the unit's starts can take");

    const std::string& hash = hit->get_ref<const std::string&>();
    if (hash.empty()) return flawed("the result carries no proof hash");
    const ProofScheme* scheme = nullptr;
    for (const ProofScheme& s : known_proof_schemes())
        if (s.hash == hash) scheme = &s;
    if (scheme == nullptr) return flawed("proof_hash names no proof table this server knows");
    // Survivor-frontier accounting sums the checksums of the candidates only; no scheme
    // above can recompute those yet.
    if (!counter(result, "frontier_nodes")->is_zero())
        return flawed("survivor-frontier results cannot be checked yet (frontier_nodes is not 0)");

    BigUint settled = *counter(result, "proof_exclusions");
    settled += *counter(result, "survivors_evaluated");
    if (!(settled == checked))
        return flawed("proof_exclusions + survivors_evaluated is not checked");

    if (!vit->get<bool>()) return flawed("the result reports a failed verification (valid is false)");

    StructureCheck out;
    out.passed = true;
    out.checksum_sum = *checksum(result, "checksum_sum");
    out.checksum_xor = *checksum(result, "checksum_xor");
    return out;
}

std::string checksum_mismatch(const UnitRange& unit, std::uint64_t checksum_sum, std::uint64_t checksum_xor) {
    const ChecksumPair want = unit_checksums(unit);
    if (checksum_sum != want.sum) return "checksum_sum does not match the unit's starts";
    if (checksum_xor != want.xor_) return "checksum_xor does not match the unit's starts";
    return {};
}

}  // namespace pelorin::server
