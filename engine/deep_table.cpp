#include "engine/deep_table.hpp"

#include <stdexcept>
#include <vector>

#include "engine/proof_table.hpp"
#include "sha256/sha256.hpp"

namespace pelorin {
namespace {

// The class of r = e * 2^16 + r16 (r16 open in the proof table), following r itself: for the
// first 24 iterations every n = r (mod 2^24) has the parities of r, and after i iterations with
// k odd ones it is (3^k n + c) / 2^i, below n from the first i with 2^i > 3^k on (n >= 2^16
// is above every threshold c / (2^i - 3^k)).
DeepClass classify(std::uint64_t r) {
    std::uint64_t x = r, pow3 = 1;
    unsigned k = 0;
    for (unsigned i = 1; i <= kDeepTableBits; ++i) {
        if (x & 1) {
            x = (3 * x + 1) / 2;
            pow3 *= 3;
            ++k;
        } else {
            x /= 2;
        }
        if ((std::uint64_t{1} << i) <= pow3) continue;
        // Below n now, at a halving; the shortcut walk compares at the next odd value.
        while (i < kDeepTableBits && (x & 1) == 0) {
            x /= 2;
            ++i;
        }
        const DeepKind kind = i < kDeepTableBits ? DeepKind::fixed : DeepKind::ctz;
        const std::uint64_t value = kind == DeepKind::fixed ? i + k : x;
        return DeepClass{(r & 0xffff) | std::uint64_t{k} << 16 | std::uint64_t{static_cast<unsigned>(kind)} << 21 |
                         value << 24};
    }
    return DeepClass{(r & 0xffff) | std::uint64_t{k} << 16 | std::uint64_t{static_cast<unsigned>(DeepKind::open)} << 21 |
                     x << 24};
}

struct Storage {
    std::vector<DeepClass> classes;
    std::vector<std::array<std::array<std::uint32_t, 10>, kDeepKinds>> first;
    std::vector<std::array<DeepTable::FixedTotal, 9>> fixed_totals;
    DeepTable view;
};

Storage build() {
    Storage s;
    const auto proof = proof_table();
    std::vector<std::uint32_t> open;
    for (std::uint32_t r = 1; r < kProofTableSize; r += 2)
        if (proof[r] == kOpenResidue) open.push_back(r);
    s.classes.reserve(open.size() * kDeepSlices);
    s.first.resize(kDeepSlices);
    s.fixed_totals.resize(kDeepSlices);
    std::array<std::vector<DeepClass>, kDeepKinds * 9> buckets;
    for (unsigned e = 0; e < kDeepSlices; ++e) {
        for (auto& b : buckets) b.clear();
        s.fixed_totals[e] = {};
        for (const std::uint32_t r16 : open) {
            const DeepClass c = classify(std::uint64_t{e} << 16 | r16);
            const unsigned v = r16 % 9;
            buckets[static_cast<unsigned>(c.kind()) * 9 + v].push_back(c);
            if (c.kind() == DeepKind::fixed) {
                ++s.fixed_totals[e][v].count;
                s.fixed_totals[e][v].steps += static_cast<std::uint32_t>(c.value());
            }
        }
        for (unsigned kind = 0; kind < kDeepKinds; ++kind)
            for (unsigned v = 0; v < 9; ++v) {
                s.first[e][kind][v] = static_cast<std::uint32_t>(s.classes.size());
                const auto& b = buckets[kind * 9 + v];
                s.classes.insert(s.classes.end(), b.begin(), b.end());
                s.first[e][kind][v + 1] = static_cast<std::uint32_t>(s.classes.size());
            }
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
