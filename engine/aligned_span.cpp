#include "engine/aligned_span.hpp"

#include <algorithm>
#include <bit>

#include "engine/mix64.hpp"

namespace pelorin {

std::uint64_t aligned_piece_origin(std::uint64_t key, std::uint64_t first, unsigned bits) {
    const std::uint64_t k = key ^ first;
    const std::uint64_t a = k ^ (k >> 30);
    return (a & ~((std::uint64_t{1} << bits) - 1)) * kMix64M1;
}

ChecksumPair checksum_by_pieces(std::uint64_t key, std::uint64_t first, std::uint64_t count, ChecksumSpanFn run,
                                AlignedPieceFn piece) {
    constexpr std::uint64_t kMin = std::uint64_t{1} << kAlignedPieceMinBits;
    ChecksumPair p;
    const auto add = [&p](ChecksumPair q) {
        p.sum += q.sum;
        p.xor_ ^= q.xor_;
    };
    const std::uint64_t head = std::min(count, (0 - first) & (kMin - 1));
    if (head > 0) add(run(key, first, head));
    first += head;
    count -= head;
    // The largest aligned piece that fits, each time: a run of n starts takes O(log n) pieces.
    while (count >= kMin) {
        const unsigned align = first == 0 ? 64u : static_cast<unsigned>(std::countr_zero(first));
        const unsigned fit = static_cast<unsigned>(std::bit_width(count)) - 1;
        const unsigned bits = std::min(align, fit);
        const std::uint64_t n = std::uint64_t{1} << bits;
        add(piece(aligned_piece_origin(key, first, bits), n));
        first += n;
        count -= n;
    }
    if (count > 0) add(run(key, first, count));
    return p;
}

ChecksumPair aligned_piece_scalar(std::uint64_t origin, std::uint64_t count) {
    ChecksumPair p;
    std::uint64_t y = origin;
    for (std::uint64_t j = 0; j < count; ++j, y += kMix64M1) {
        const std::uint64_t z = mix64_from_product(y);
        p.sum += z;
        p.xor_ ^= z;
    }
    return p;
}

}  // namespace pelorin
