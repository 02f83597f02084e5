#pragma once
// The result record of one verified range: filled by every backend, folded with merge,
// stored in the checkpoint and sent to the coordinator as result_json.
#include <cstdint>
#include <string>

#include "wideint/biguint.hpp"

namespace pelorin {

struct UnitResult {
    std::string format = "pelorin-result-v2";
    std::string mode;
    std::string backend;
    std::string begin;
    std::string end;
    BigUint checked;
    BigUint candidates;
    BigUint survivors_evaluated;
    BigUint steps;
    BigUint overflow_starts;
    std::uint64_t checksum_sum = 0;
    std::uint64_t checksum_xor = 0;
    BigUint proof_exclusions;
    BigUint frontier_nodes;
    BigUint u64_completions;
    BigUint u128_completions;
    BigUint u256_completions;
    BigUint bigint_completions;
    std::string proof_hash;
    std::string accounting = "per-start";
    double elapsed_seconds = 0.0;
    double kernel_seconds = 0.0;
    double transfer_seconds = 0.0;
    bool valid = true;
    std::string message;
};

void merge(UnitResult& into, const UnitResult& from);
std::string result_json(const UnitResult& record);

// A double as printf's %.12g writes it (the form every JSON text of this program uses).
std::string format_seconds(double value);

}  // namespace pelorin
