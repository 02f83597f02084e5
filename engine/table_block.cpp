#include "engine/table_block.hpp"

#include <algorithm>
#include <array>

#include "engine/deep_table.hpp"
#include "engine/proof_table.hpp"
#include "engine/survivor_lists.hpp"
#include "engine/walk_u64.hpp"

namespace pelorin {
namespace {

// The residues mod 9 (of r within the block) that survive the mod-9 sieve for a block whose
// base is m (mod 9): (m + v) mod 9 outside {2, 4, 5, 8}.
constexpr std::array<std::array<unsigned, 5>, 9> kAllowedByBase = [] {
    std::array<std::array<unsigned, 5>, 9> a{};
    for (unsigned m = 0; m < 9; ++m) {
        unsigned n = 0;
        for (unsigned v = 0; v < 9; ++v)
            if (((kMod9ExcludedMask >> ((m + v) % 9)) & 1u) == 0) a[m][n++] = v;
    }
    return a;
}();

// The classes of a span whose residues lie in [lo_r, hi_r).
std::span<const DeepClass> window(std::span<const DeepClass> s, std::uint64_t lo_r, std::uint64_t hi_r) {
    const auto by_residue = [](const DeepClass& c, std::uint64_t r) { return c.residue() < r; };
    const auto b = lo_r == 0 ? s.begin() : std::lower_bound(s.begin(), s.end(), lo_r, by_residue);
    const auto e = hi_r >= kProofTableSize ? s.end() : std::lower_bound(b, s.end(), hi_r, by_residue);
    return s.subspan(static_cast<std::size_t>(b - s.begin()), static_cast<std::size_t>(e - b));
}

#if defined(__SIZEOF_INT128__)

// Below 2^111 (hi < 2^47) no value inside the first 24 iterations reaches 2^128, where the
// counting rules change: the largest 3x+1 there is below 2 * 3^24 / 2^23 * n < 2^17 * n.
inline constexpr std::uint64_t kDeepHighLimit = std::uint64_t{1} << 47;

std::uint64_t walk_deep_block(std::uint64_t hi, std::uint64_t base, std::uint64_t lo_r, std::uint64_t hi_r, Tally& t,
                              ChecksumStream& checksums) {
    const DeepSlice& slice = deep_slice(static_cast<unsigned>(base >> 16) % kDeepSlices);
    const bool whole = lo_r == 0 && hi_r >= kProofTableSize;
    const native_u128 q = to_native(U128{base, hi}) >> kDeepTableBits;
    std::uint64_t closed = 0, walked = 0, steps = 0;
    for (const unsigned v : kAllowedByBase[mod9(U128{base, hi})]) {
        if (whole) {
            const auto total = slice.fixed_totals[v];
            closed += total.count;
            steps += total.steps;
        } else {
            for (const DeepClass c : window(slice.span(DeepKind::fixed, v), lo_r, hi_r)) {
                ++closed;
                steps += c.value();
            }
        }
        // The count ends with the trailing zeros of 3^k q + d, which is below n: its low limb
        // alone gives them unless it is 0.
        for (const DeepClass c : window(slice.span(DeepKind::ctz, v), lo_r, hi_r)) {
            const native_u128 x = q * pow3(c.k()) + c.value();
            const auto x_lo = static_cast<std::uint64_t>(x);
            steps += kDeepTableBits + c.k() + (x_lo != 0 ? ctz64(x_lo) : 64 + ctz64(static_cast<std::uint64_t>(x >> 64)));
            ++closed;
        }
        // The next class's fold is formed before this walk, so that its multiply runs beside
        // the walk and is not thrown away with the walk's mispredicted exit.
        const auto open = window(slice.span(DeepKind::open, v), lo_r, hi_r);
        const auto fold = [q](DeepClass c) { return q * pow3(c.k()) + c.value(); };
        native_u128 next = open.empty() ? 0 : fold(open[0]);
        for (std::size_t i = 0; i < open.size(); ++i) {
            const DeepClass c = open[i];
            const native_u128 x = next;
            next = fold(open[std::min(i + 1, open.size() - 1)]);
            const U128 s{base + c.residue(), hi};
            checksums.slice();
            std::uint64_t walk_steps = kDeepTableBits + c.k();
            bool escalated = false;
            if ((x >> 64) == 0) walk_shortcut_from_u64(s.lo, static_cast<std::uint64_t>(x), walk_steps, escalated);
            else walk_shortcut_from_wide(s, from_native(x), walk_steps, escalated);
            t.completed(escalated, hi != 0, walk_steps);
        }
        walked += open.size();
    }
    t.completed_many(closed, hi != 0, steps);
    return closed + walked;
}

#endif

// A class's first 16 iterations may be folded while no 3x+1 inside them reaches 2^128.
bool fold_fits(std::uint64_t hi, const TableSurvivor& c) { return (hi >> c.fit_bits) == 0; }

std::uint64_t walk_folded_block(std::uint64_t hi, std::uint64_t base, std::uint64_t lo_r, std::uint64_t hi_r, Tally& t,
                                ChecksumStream& checksums) {
    const auto list = table_survivors(mod9(U128{base, hi}));
    const auto by_residue = [](const TableSurvivor& e, std::uint64_t r) { return e.residue < r; };
    const auto it = std::lower_bound(list.begin(), list.end(), lo_r, by_residue);
    const auto stop = hi_r >= kProofTableSize ? list.end() : std::lower_bound(it, list.end(), hi_r, by_residue);
    for (auto c = it; c != stop; ++c) {
        const U128 s{base + c->residue, hi};
        checksums.slice();
        std::uint64_t steps = 0;
        bool escalated = false;
#if defined(__SIZEOF_INT128__)
        if (fold_fits(hi, *c)) {
            // With a 128-bit integer this runs above 2^111 only: the fold is past 2^64.
            const native_u128 x = (to_native(U128{base, hi}) >> kProofTableBits) * pow3(c->k) + c->offset;
            steps = kProofTableBits + c->k;
            walk_shortcut_from_wide(s, from_native(x), steps, escalated);
            t.completed(escalated, hi != 0, steps);
            continue;
        }
#endif
        if (hi == 0) walk_shortcut_u64(s.lo, steps, escalated);
        else walk_shortcut_from_wide(s, s, steps, escalated);
        t.completed(escalated, hi != 0, steps);
    }
    return static_cast<std::uint64_t>(stop - it);
}

}  // namespace

std::uint64_t walk_table_block(std::uint64_t hi, std::uint64_t base, std::uint64_t lo_r, std::uint64_t hi_r, Tally& t,
                               ChecksumStream& checksums) {
#if defined(__SIZEOF_INT128__)
    if (hi < kDeepHighLimit) return walk_deep_block(hi, base, lo_r, hi_r, t, checksums);
#endif
    return walk_folded_block(hi, base, lo_r, hi_r, t, checksums);
}

}  // namespace pelorin
