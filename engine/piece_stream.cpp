#include "engine/piece_stream.hpp"

#include <algorithm>
#include <bit>

#include "engine/aligned_span.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"
#include "engine/tuning.hpp"

namespace pelorin {
namespace {

// The plain slice: start j of the slice goes to lane j mod 8, as in the vector kernels.
void slice_scalar(PieceStream& s) {
    std::uint64_t y = s.y;
    for (std::uint64_t j = 0; j < kInterleaveStartsScalar; ++j, y += kMix64M1) {
        const std::uint64_t z = mix64_from_product(y);
        s.sum[j & 7] += z;
        s.xor_[j & 7] ^= z;
    }
    s.y = y;
    s.left -= kInterleaveStartsScalar;
}

}  // namespace

PieceSliceKernel piece_slice_scalar() { return {slice_scalar, kInterleaveStartsScalar}; }

PieceSliceKernel piece_slice_kernel() {
    static const PieceSliceKernel k = cpu_has_avx512() ? piece_slice_avx512()
                                      : cpu_has_avx2() ? piece_slice_avx2()
                                                       : piece_slice_scalar();
    return k;
}

ChecksumStream::ChecksumStream(PieceSliceKernel kernel, std::uint64_t key, std::uint64_t first, std::uint64_t count)
    : kernel_(kernel), key_(key) {
    const std::uint64_t mask = kernel.starts - 1;
    const std::uint64_t head = std::min(count, (0 - first) & mask);
    const std::uint64_t body = (count - head) & ~mask;
    first_ = first + head;
    count_ = body;
    ends_ = checksum_span(key, first, head);
    const ChecksumPair tail = checksum_span(key, first_ + body, count - head - body);
    ends_.sum += tail.sum;
    ends_.xor_ ^= tail.xor_;
}

// The largest aligned piece that fits, as checksum_by_pieces cuts them: with first_ and count_
// multiples of the slice, every piece is too.
bool ChecksumStream::next_piece() {
    if (count_ == 0) return false;
    const unsigned align = first_ == 0 ? 64u : static_cast<unsigned>(std::countr_zero(first_));
    const unsigned fit = static_cast<unsigned>(std::bit_width(count_)) - 1;
    const unsigned bits = std::min(align, fit);
    s_.y = aligned_piece_origin(key_, first_, bits);
    s_.left = std::uint64_t{1} << bits;
    first_ += s_.left;
    count_ -= s_.left;
    return true;
}

ChecksumPair ChecksumStream::finish() {
    do {
        while (s_.left >= kernel_.starts) kernel_.fn(s_);
    } while (next_piece());
    ChecksumPair p = ends_;
    for (int l = 0; l < 8; ++l) {
        p.sum += s_.sum[l];
        p.xor_ ^= s_.xor_[l];
    }
    return p;
}

}  // namespace pelorin
