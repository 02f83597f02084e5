// Compiled with AVX2 enabled; entered only after cpu_has_avx2().
#include <immintrin.h>

#include "engine/aligned_span.hpp"
#include "engine/checksum_span.hpp"
#include "engine/mix64.hpp"
#include "engine/piece_stream.hpp"
#include "engine/tuning.hpp"

namespace pelorin {
namespace {

// Low 64 bits of a 64x64 product per lane, from three 32x32 products (AVX2 has no vpmullq).
inline __m256i mullo64(__m256i a, __m256i b) {
    const __m256i lo = _mm256_mul_epu32(a, b);
    const __m256i a_hi = _mm256_srli_epi64(a, 32);
    const __m256i b_hi = _mm256_srli_epi64(b, 32);
    const __m256i cross = _mm256_add_epi64(_mm256_mul_epu32(a_hi, b), _mm256_mul_epu32(a, b_hi));
    return _mm256_add_epi64(lo, _mm256_slli_epi64(cross, 32));
}

inline __m256i set1(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }

inline __m256i mix64_from_product_x4(__m256i z) {
    z = mullo64(_mm256_xor_si256(z, _mm256_srli_epi64(z, 27)), set1(kMix64M2));
    return _mm256_xor_si256(z, _mm256_srli_epi64(z, 31));
}

inline __m256i mix64x4(__m256i z) {
    return mix64_from_product_x4(mullo64(_mm256_xor_si256(z, _mm256_srli_epi64(z, 30)), set1(kMix64M1)));
}

// Inlined: MinGW cannot pass a 256-bit vector by value to a call.
inline ChecksumPair fold_lanes(__m256i sum, __m256i x) {
    alignas(32) std::uint64_t s[4], o[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), sum);
    _mm256_store_si256(reinterpret_cast<__m256i*>(o), x);
    return ChecksumPair{s[0] + s[1] + s[2] + s[3], o[0] ^ o[1] ^ o[2] ^ o[3]};
}

// for (i = 0; i < count; ++i) { c = mix64(key ^ (first + i)); sum += c; xor ^= c; }
// Two vectors of four lanes per pass, so the two multiply chains overlap.
ChecksumPair mix_run(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    const __m256i k = set1(key);
    __m256i v0 = _mm256_add_epi64(set1(first), _mm256_setr_epi64x(0, 1, 2, 3));
    __m256i v1 = _mm256_add_epi64(v0, set1(4));
    const __m256i step = set1(8);
    __m256i sum0 = _mm256_setzero_si256(), sum1 = sum0, x0 = sum0, x1 = sum0;
    std::uint64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i c0 = mix64x4(_mm256_xor_si256(v0, k));
        const __m256i c1 = mix64x4(_mm256_xor_si256(v1, k));
        sum0 = _mm256_add_epi64(sum0, c0);
        sum1 = _mm256_add_epi64(sum1, c1);
        x0 = _mm256_xor_si256(x0, c0);
        x1 = _mm256_xor_si256(x1, c1);
        v0 = _mm256_add_epi64(v0, step);
        v1 = _mm256_add_epi64(v1, step);
    }
    ChecksumPair p = fold_lanes(_mm256_add_epi64(sum0, sum1), _mm256_xor_si256(x0, x1));
    const ChecksumPair tail = checksum_span_scalar(key, first + i, count - i);
    p.sum += tail.sum;
    p.xor_ ^= tail.xor_;
    return p;
}

// AlignedPieceFn: lane l of the four vectors holds the running product of j = l, 4 + l, 8 + l
// and 12 + l, and each pass adds 16 * m1 to every lane. Four independent chains keep the
// multiplier busy.
ChecksumPair aligned_piece(std::uint64_t origin, std::uint64_t count) {
    __m256i y0 = _mm256_add_epi64(set1(origin), _mm256_setr_epi64x(0, static_cast<long long>(kMix64M1),
                                                                    static_cast<long long>(2 * kMix64M1),
                                                                    static_cast<long long>(3 * kMix64M1)));
    const __m256i e4 = set1(4 * kMix64M1);
    __m256i y1 = _mm256_add_epi64(y0, e4);
    __m256i y2 = _mm256_add_epi64(y1, e4);
    __m256i y3 = _mm256_add_epi64(y2, e4);
    const __m256i step = set1(16 * kMix64M1);
    __m256i sum0 = _mm256_setzero_si256(), sum1 = sum0, x0 = sum0, x1 = sum0;
    for (std::uint64_t j = 0; j < count; j += 16) {
        const __m256i c0 = mix64_from_product_x4(y0);
        const __m256i c1 = mix64_from_product_x4(y1);
        const __m256i c2 = mix64_from_product_x4(y2);
        const __m256i c3 = mix64_from_product_x4(y3);
        sum0 = _mm256_add_epi64(sum0, _mm256_add_epi64(c0, c2));
        sum1 = _mm256_add_epi64(sum1, _mm256_add_epi64(c1, c3));
        x0 = _mm256_xor_si256(x0, _mm256_xor_si256(c0, c2));
        x1 = _mm256_xor_si256(x1, _mm256_xor_si256(c1, c3));
        y0 = _mm256_add_epi64(y0, step);
        y1 = _mm256_add_epi64(y1, step);
        y2 = _mm256_add_epi64(y2, step);
        y3 = _mm256_add_epi64(y3, step);
    }
    return fold_lanes(_mm256_add_epi64(sum0, sum1), _mm256_xor_si256(x0, x1));
}

// PieceSliceFn: the passes of aligned_piece on a slice; lane l of the stream's low half sums
// the starts j = l (mod 4), the high half stays zero.
void piece_slice(PieceStream& s) {
    __m256i y0 = _mm256_add_epi64(set1(s.y), _mm256_setr_epi64x(0, static_cast<long long>(kMix64M1),
                                                                  static_cast<long long>(2 * kMix64M1),
                                                                  static_cast<long long>(3 * kMix64M1)));
    const __m256i e4 = set1(4 * kMix64M1);
    __m256i y1 = _mm256_add_epi64(y0, e4);
    __m256i y2 = _mm256_add_epi64(y1, e4);
    __m256i y3 = _mm256_add_epi64(y2, e4);
    const __m256i step = set1(16 * kMix64M1);
    __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.sum));
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.xor_));
    for (std::uint64_t j = 0; j < kInterleaveStartsAvx2; j += 16) {
        const __m256i c0 = mix64_from_product_x4(y0);
        const __m256i c1 = mix64_from_product_x4(y1);
        const __m256i c2 = mix64_from_product_x4(y2);
        const __m256i c3 = mix64_from_product_x4(y3);
        sum = _mm256_add_epi64(sum, _mm256_add_epi64(_mm256_add_epi64(c0, c1), _mm256_add_epi64(c2, c3)));
        x = _mm256_xor_si256(x, _mm256_xor_si256(_mm256_xor_si256(c0, c1), _mm256_xor_si256(c2, c3)));
        y0 = _mm256_add_epi64(y0, step);
        y1 = _mm256_add_epi64(y1, step);
        y2 = _mm256_add_epi64(y2, step);
        y3 = _mm256_add_epi64(y3, step);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.sum), sum);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.xor_), x);
    s.y += kInterleaveStartsAvx2 * kMix64M1;
    s.left -= kInterleaveStartsAvx2;
}

}  // namespace

PieceSliceKernel piece_slice_avx2() { return {piece_slice, kInterleaveStartsAvx2}; }

ChecksumPair checksum_span_avx2(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    return checksum_by_pieces(key, first, count, mix_run, aligned_piece);
}

}  // namespace pelorin
