#include "engine/proof_table.hpp"

#include <mutex>
#include <vector>

#include "sha256/sha256.hpp"

namespace pelorin {

std::uint64_t descent_threshold(std::uint64_t r, unsigned bits) {
    if ((r & 1) == 0) return 0;
    // After j iterations of x -> (3x+1)/2 | x/2, n becomes (3^k n + c) / 2^j for every
    // n = r (mod 2^bits); once 2^j > 3^k, n > c / (2^j - 3^k) has fallen below itself.
    // c < 3^bits * 2^bits, so for bits <= 24 every quantity stays below 2^64.
    std::uint64_t x = r, pow2 = 1, pow3 = 1, c = 0;
    for (unsigned j = 0; j < bits; ++j) {
        if (x & 1) {
            c = 3 * c + pow2;
            pow3 *= 3;
            x = 3 * x + 1;
        }
        pow2 *= 2;
        x /= 2;
        if (pow2 > pow3) return c / (pow2 - pow3);
    }
    return kOpenResidue;
}

namespace {

struct Table {
    std::vector<std::uint64_t> entries;
    std::string hash;
};

const Table& table() {
    static const Table t = [] {
        Table out;
        out.entries.assign(kProofTableSize, kOpenResidue);
        for (std::uint64_t r = 0; r < kProofTableSize; ++r) out.entries[r] = descent_threshold(r, kProofTableBits);
        std::string bytes(kProofTableSize * 8, '\0');
        for (std::uint64_t r = 0; r < kProofTableSize; ++r)
            for (int b = 0; b < 8; ++b) bytes[8 * r + b] = static_cast<char>(out.entries[r] >> (8 * b));
        out.hash = sha256_hex(bytes);
        return out;
    }();  // function-local static: built exactly once, other threads wait
    return t;
}

}  // namespace

std::span<const std::uint64_t> proof_table() { return table().entries; }
const std::string& proof_table_hash() { return table().hash; }

bool excluded(U128 s, bool with_table) {
    if (!is_odd(s)) return true;
    if ((kMod9ExcludedMask >> mod9(s)) & 1u) return true;
    if (!with_table) return false;
    const std::uint64_t t = proof_table()[s.lo & (kProofTableSize - 1)];
    if (t == kOpenResidue) return false;
    return s.hi != 0 || s.lo > t;
}

}  // namespace pelorin
