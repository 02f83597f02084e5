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

}  // namespace

std::span<const std::uint16_t> survivors(bool with_table, unsigned base_mod9) {
    static const Lists plain = build(false);
    static const Lists tabled = build(true);
    return (with_table ? tabled : plain)[base_mod9];
}

}  // namespace pelorin
