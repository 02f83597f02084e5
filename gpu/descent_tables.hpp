#pragma once
// The 2^k descent-threshold tables of "cuda-recursive": entry r means every start
// n = r (mod 2^k) with n > entry falls below itself within k steps; kNoDescent marks the
// survivor residues, which still need a walk. For k = 16 this is the CPU's proof table.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelorin {

// What a launch needs of a table; the pointers are device pointers for the GPU and host
// pointers for host runs of the kernel.
struct RecursiveTables {
    const std::uint64_t* table = nullptr;
    const std::uint64_t* survivors = nullptr;  // survivor residues, ascending
    std::uint64_t survivor_count = 0;
    std::uint64_t max_threshold = 0;           // largest entry other than kNoDescent
    std::string proof_hash;                    // SHA-256 of the little-endian table bytes
};

// The host table for width k, 0 <= k <= 24 (std::invalid_argument above 24).
std::vector<std::uint64_t> build_descent_table(unsigned k);

// A host table with its survivors, largest threshold and hash.
struct HostDescentTables {
    std::vector<std::uint64_t> table;
    std::vector<std::uint64_t> survivors;
    std::uint64_t max_threshold = 0;
    std::string proof_hash;

    RecursiveTables view() const;
};

HostDescentTables describe_descent_table(std::vector<std::uint64_t> table);

// Lower-case hex SHA-256 of the entries, each as 8 little-endian bytes, entry 0 first.
std::string descent_table_hash(std::span<const std::uint64_t> table);

}  // namespace pelorin
