#include "engine/survivor_lists.hpp"

#include <array>
#include <vector>

#include "engine/proof_table.hpp"

namespace pelorin {
namespace {

using Lists = std::array<std::vector<std::uint16_t>, 9>;

Lists build(bool with_table) {
    Lists lists;
    const auto table = proof_table();
    for (unsigned m = 0; m < 9; ++m) {
        for (std::uint32_t r = 1; r < kProofTableSize; r += 2) {
            if ((kMod9ExcludedMask >> ((m + r) % 9)) & 1u) continue;
            if (with_table && table[r] != kOpenResidue) continue;
            lists[m].push_back(static_cast<std::uint16_t>(r));
        }
    }
    return lists;
}

std::array<std::vector<TableSurvivor>, 9> build_table_survivors() {
    std::array<std::vector<TableSurvivor>, 9> lists;
    for (unsigned m = 0; m < 9; ++m)
        for (const std::uint16_t r : survivors(true, m)) {
            // After j iterations with k odd ones, n has become (3^k n + c) / 2^j with
            // c < 3^k 2^j, so an odd step there forms 3x+1 < 3^(k+1) (n + 2^(j+1)) / 2^j. With
            // 2^(g+j) >= 2 * 3^(k+1) that is below 2^128 for every n < 2^(128-g).
            std::uint64_t x = r;
            unsigned k = 0, g = 0;
            for (unsigned j = 0; j < kProofTableBits; ++j) {
                if (x & 1) {
                    while ((std::uint64_t{1} << (g + j)) < 2 * pow3(k + 1)) ++g;
                    x = 3 * x + 1;
                    ++k;
                }
                x /= 2;
            }
            lists[m].push_back(TableSurvivor{static_cast<std::uint32_t>(x), r, static_cast<std::uint8_t>(k),
                                             static_cast<std::uint8_t>(64 - g)});
        }
    return lists;
}

}  // namespace

std::span<const TableSurvivor> table_survivors(unsigned base_mod9) {
    static const auto lists = build_table_survivors();
    return lists[base_mod9];
}

std::span<const std::uint16_t> survivors(bool with_table, unsigned base_mod9) {
    static const Lists plain = build(false);
    static const Lists tabled = build(true);
    return (with_table ? tabled : plain)[base_mod9];
}

}  // namespace pelorin
