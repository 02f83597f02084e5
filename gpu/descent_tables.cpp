#include "gpu/descent_tables.hpp"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string_view>

#include "sha256/sha256.hpp"
#include "gpu/gpu_constants.hpp"
#include "wideint/u128.hpp"

namespace pelorin {
namespace {

// Follows r under T(x) = (3x+1)/2 | x/2 for at most k steps. After j steps every
// n = r (mod 2^k) has become (q n + c) / p with p = 2^j, q = 3^(odd steps), so once p > q,
// n > c / (p - q) has fallen below itself. For k <= 24, c < 3^k 2^k stays below 2^64.
std::uint64_t threshold_of(std::uint64_t r, unsigned k) {
    if ((r & 1) == 0) return 0;
    U128 x{r, 0};
    std::uint64_t p = 1, q = 1, c = 0;
    for (unsigned j = 0; j < k; ++j) {
        if (is_odd(x)) {
            if (!three_n_plus_one_fits(x)) return kNoDescent;
            c = 3 * c + p;
            q *= 3;
        }
        p *= 2;
        x = shift_right(x, 1);
        if (p > q) return c / (p - q);
    }
    return kNoDescent;
}

}  // namespace

std::vector<std::uint64_t> build_descent_table(unsigned k) {
    if (k > kMaxSieveBits) throw std::invalid_argument("descent table width above 24 bits");
    std::vector<std::uint64_t> table(std::size_t{1} << k, kNoDescent);
    for (std::uint64_t r = 0; r < table.size(); ++r) table[r] = threshold_of(r, k);
    return table;
}

std::string descent_table_hash(std::span<const std::uint64_t> table) {
    if constexpr (std::endian::native == std::endian::little) {
        // The entries already are their byte form; no 128 MiB copy for k = 24.
        return sha256_hex(std::string_view(reinterpret_cast<const char*>(table.data()), table.size_bytes()));
    } else {
        std::string bytes(table.size_bytes(), '\0');
        for (std::size_t r = 0; r < table.size(); ++r)
            for (int b = 0; b < 8; ++b) bytes[8 * r + b] = static_cast<char>(table[r] >> (8 * b));
        return sha256_hex(bytes);
    }
}

HostDescentTables describe_descent_table(std::vector<std::uint64_t> table) {
    HostDescentTables t;
    for (std::uint64_t r = 0; r < table.size(); ++r) {
        if (table[r] == kNoDescent) t.survivors.push_back(r);
        else t.max_threshold = std::max(t.max_threshold, table[r]);
    }
    t.proof_hash = descent_table_hash(table);
    t.table = std::move(table);
    return t;
}

RecursiveTables HostDescentTables::view() const {
    return RecursiveTables{table.data(), survivors.data(), survivors.size(), max_threshold, proof_hash};
}

}  // namespace pelorin
