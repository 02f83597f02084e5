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
            std::uint64_t x = r;
            std::uint16_t k = 0;
            for (unsigned j = 0; j < kProofTableBits; ++j) {
                if (x & 1) {
                    x = 3 * x + 1;
                    ++k;
                }
                x /= 2;
            }
            lists[m].push_back(TableSurvivor{static_cast<std::uint32_t>(x), r, k});
        }
    return lists;
}

}  // namespace

std::span<const TableSurvivor> table_survivors(unsigned base_mod9) {
    static const auto lists = build_table_survivors();
    return lists[base_mod9];
}

std::uint64_t pow3(unsigned k) {
    static constexpr std::array<std::uint64_t, 17> kPow3 = [] {
        std::array<std::uint64_t, 17> p{};
        p[0] = 1;
        for (std::size_t i = 1; i < p.size(); ++i) p[i] = 3 * p[i - 1];
        return p;
    }();
    return kPow3[k];
}

std::span<const std::uint16_t> survivors(bool with_table, unsigned base_mod9) {
    static const Lists plain = build(false);
    static const Lists tabled = build(true);
    return (with_table ? tabled : plain)[base_mod9];
}

}  // namespace pelorin
