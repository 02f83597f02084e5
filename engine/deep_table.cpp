#include "engine/deep_table.hpp"

#include <mutex>
#include <stdexcept>
#include <vector>

#include "engine/proof_table.hpp"
#include "engine/survivor_lists.hpp"
#include "sha256/sha256.hpp"

namespace pelorin {
namespace {

// For n = r (mod 2^24), r = e * 2^16 + r16 with r16 open in the proof table, the first 16
// iterations take n to 3^k16 * (n >> 16) + x16, and the next eight follow the low 8 bits of
// that value, l = (3^k16 * e + x16) mod 2^8: they end at 3^k * (n >> 24) + d, where d is
// 3^(k - k16) * ((3^k16 * e + x16) >> 8) + (l after its eight iterations).
// After i iterations with k odd ones n is (3^k n + c) / 2^i, below n from the first i with
// 2^i > 3^k on (n >= 2^16 is above every threshold c / (2^i - 3^k)); the shortcut walk then
// compares at the next odd value.
struct Tail {
    DeepKind kind;
    unsigned k;
    unsigned steps;       // fixed only
    std::uint64_t mul;    // 3^(k - k16), ctz and open only
    std::uint64_t value;  // l after its eight iterations, ctz and open only
};

inline constexpr unsigned kTailBits = kDeepTableBits - kProofTableBits;
inline constexpr std::uint64_t kTailSize = std::uint64_t{1} << kTailBits;

Tail tail_of(unsigned k16, std::uint64_t l) {
    std::uint64_t x = l, p3 = pow3(k16);
    unsigned k = k16;
    for (unsigned i = kProofTableBits + 1; i <= kDeepTableBits; ++i) {
        if (x & 1) {
            x = (3 * x + 1) / 2;
            p3 *= 3;
            ++k;
        } else {
            x /= 2;
        }
        if ((std::uint64_t{1} << i) <= p3) continue;
        while (i < kDeepTableBits && (x & 1) == 0) {
            x /= 2;
            ++i;
        }
        if (i < kDeepTableBits) return Tail{DeepKind::fixed, k, i + k, 0, 0};
        return Tail{DeepKind::ctz, k, 0, pow3(k - k16), x};
    }
    return Tail{DeepKind::open, k, 0, pow3(k - k16), x};
}

// What every slice is built from, made once: the open residues with their first 16 iterations
// folded, and the last eight iterations of every low byte after k16 odd ones.
struct Basis {
    struct Open {
        std::uint32_t r16;
        unsigned k16;
        std::uint64_t pow3_k16;
        std::uint64_t x16;
    };
    std::vector<Open> open;
    std::array<std::array<Tail, kTailSize>, kProofTableBits + 1> tails;
};

Basis make_basis() {
    Basis b;
    const auto proof = proof_table();
    for (std::uint32_t r = 1; r < kProofTableSize; r += 2) {
        if (proof[r] != kOpenResidue) continue;
        std::uint64_t x = r;
        unsigned k = 0;
        for (unsigned j = 0; j < kProofTableBits; ++j) {
            if (x & 1) {
                x = 3 * x + 1;
                ++k;
            }
            x /= 2;
        }
        b.open.push_back(Basis::Open{r, k, pow3(k), x});
    }
    if (b.open.size() != kDeepSliceClasses) throw std::logic_error("proof table with an unexpected number of open residues");
    for (unsigned k16 = 0; k16 <= kProofTableBits; ++k16)
        for (std::uint64_t l = 0; l < kTailSize; ++l) b.tails[k16][l] = tail_of(k16, l);
    return b;
}

void build_slice(const Basis& b, unsigned e, DeepSlice& s) {
    std::array<DeepClass, kDeepSliceClasses> classes;
    std::array<std::uint8_t, kDeepSliceClasses> bucket;
    std::array<std::uint16_t, kDeepKinds * 9 + 1> start{};
    s.fixed_totals = {};
    for (std::size_t i = 0; i < kDeepSliceClasses; ++i) {
        const Basis::Open& o = b.open[i];
        const std::uint64_t x16 = o.pow3_k16 * e + o.x16;
        const Tail& t = b.tails[o.k16][x16 & (kTailSize - 1)];
        const unsigned v = o.r16 % 9;
        // Without branches: the kinds interleave at random.
        const unsigned fixed = t.kind == DeepKind::fixed ? 1 : 0;
        const std::uint64_t keep = std::uint64_t{fixed} - 1;  // all ones unless fixed
        const std::uint64_t value = (((x16 >> kTailBits) * t.mul + t.value) & keep) | (t.steps & ~keep);
        classes[i] = DeepClass{o.r16 | std::uint64_t{t.k} << 16 | std::uint64_t{static_cast<unsigned>(t.kind)} << 21 |
                               value << 24};
        bucket[i] = static_cast<std::uint8_t>(static_cast<unsigned>(t.kind) * 9 + v);
        ++start[bucket[i] + 1u];
        s.fixed_totals[v].count += fixed;
        s.fixed_totals[v].steps += fixed * t.steps;
    }
    // A stable counting sort by (kind, v) keeps each group ascending by residue.
    for (std::size_t g = 0; g < kDeepKinds * 9; ++g) start[g + 1] += start[g];
    for (unsigned kind = 0; kind < kDeepKinds; ++kind)
        for (unsigned v = 0; v <= 9; ++v) s.first[kind][v] = start[kind * 9 + v];
    for (std::size_t i = 0; i < kDeepSliceClasses; ++i) s.classes[start[bucket[i]]++] = classes[i];
}

struct Table {
    Basis basis = make_basis();
    std::array<std::once_flag, kDeepSlices> built;
    std::vector<DeepSlice> slices = std::vector<DeepSlice>(kDeepSlices);
};

Table& table() {
    static Table t;  // function-local static: made exactly once, other threads wait
    return t;
}

}  // namespace

const DeepSlice& deep_slice(unsigned e) {
    Table& t = table();
    std::call_once(t.built[e], [&] { build_slice(t.basis, e, t.slices[e]); });
    return t.slices[e];
}

std::string deep_table_hash() {
    std::string bytes;
    bytes.reserve(kDeepSlices * kDeepSliceClasses * 8);
    for (unsigned e = 0; e < kDeepSlices; ++e)
        for (const DeepClass c : deep_slice(e).classes)
            for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>(c.bits >> (8 * b)));
    return sha256_hex(bytes);
}

}  // namespace pelorin
