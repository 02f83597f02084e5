#include "engine/piece_stream.hpp"

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

ChecksumPair ChecksumStream::finish() {
    while (s_.left >= kernel_.starts) kernel_.fn(s_);
    ChecksumPair p = aligned_piece_scalar(s_.y, s_.left);
    for (int l = 0; l < 8; ++l) {
        p.sum += s_.sum[l];
        p.xor_ ^= s_.xor_[l];
    }
    s_.left = 0;
    return p;
}

}  // namespace pelorin
