#include "engine/deep_table.hpp"

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

struct Storage {
    std::vector<DeepClass> classes;
    std::vector<std::array<std::array<std::uint32_t, 10>, kDeepKinds>> first;
    std::vector<std::array<DeepTable::FixedTotal, 9>> fixed_totals;
    DeepTable view;
};

Storage build() {
    // The open residues of the proof table with their first 16 iterations folded.
    struct Open {
        std::uint32_t r16;
        unsigned k16;
        std::uint64_t x16;
    };
    std::vector<Open> open;
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
        open.push_back(Open{r, k, x});
    }
    std::array<std::array<Tail, kTailSize>, kProofTableBits + 1> tails;
    for (unsigned k16 = 0; k16 <= kProofTableBits; ++k16)
        for (std::uint64_t l = 0; l < kTailSize; ++l) tails[k16][l] = tail_of(k16, l);

    Storage s;
    s.classes.resize(open.size() * kDeepSlices);
    s.first.resize(kDeepSlices);
    s.fixed_totals.resize(kDeepSlices);
    std::vector<DeepClass> slice(open.size());
    std::vector<std::uint8_t> bucket(open.size());
    std::uint32_t at = 0;
    for (unsigned e = 0; e < kDeepSlices; ++e) {
        std::array<std::uint32_t, kDeepKinds * 9 + 1> start{};
        auto& totals = s.fixed_totals[e];
        totals = {};
        for (std::size_t i = 0; i < open.size(); ++i) {
            const Open& o = open[i];
            const std::uint64_t x16 = pow3(o.k16) * e + o.x16;
            const Tail& t = tails[o.k16][x16 & (kTailSize - 1)];
            const unsigned v = o.r16 % 9;
            const unsigned fixed = t.kind == DeepKind::fixed ? 1 : 0;  // no branch: the kinds interleave
            const std::uint64_t value = fixed ? t.steps : (x16 >> kTailBits) * t.mul + t.value;
            slice[i] = DeepClass{o.r16 | std::uint64_t{t.k} << 16 | std::uint64_t{static_cast<unsigned>(t.kind)} << 21 |
                                 value << 24};
            bucket[i] = static_cast<std::uint8_t>(static_cast<unsigned>(t.kind) * 9 + v);
            ++start[bucket[i] + 1];
            totals[v].count += fixed;
            totals[v].steps += fixed * t.steps;
        }
        // A stable counting sort by (kind, v) keeps each span ascending by residue.
        for (std::size_t b = 0; b < kDeepKinds * 9; ++b) start[b + 1] += start[b];
        for (unsigned kind = 0; kind < kDeepKinds; ++kind)
            for (unsigned v = 0; v <= 9; ++v) s.first[e][kind][v] = at + start[kind * 9 + v];
        for (std::size_t i = 0; i < open.size(); ++i) s.classes[at + start[bucket[i]]++] = slice[i];
        at += static_cast<std::uint32_t>(open.size());
    }
    s.view = DeepTable{s.classes, s.first, s.fixed_totals};
    return s;
}

}  // namespace

const DeepTable& deep_table() {
    static const Storage s = build();  // function-local static: built exactly once, other threads wait
    return s.view;
}

std::string deep_table_hash() {
    const DeepTable& t = deep_table();
    std::string bytes(t.classes.size() * 8, '\0');
    for (std::size_t i = 0; i < t.classes.size(); ++i)
        for (int b = 0; b < 8; ++b) bytes[8 * i + b] = static_cast<char>(t.classes[i].bits >> (8 * b));
    return sha256_hex(bytes);
}

}  // namespace pelorin
