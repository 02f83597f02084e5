// Compiled with AVX2 enabled; entered only after cpu_has_avx2().
#include <immintrin.h>

#include "engine/checksum_span.hpp"

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

inline __m256i mix64x4(__m256i z) {
    const __m256i m1 = _mm256_set1_epi64x(static_cast<long long>(0xbf58476d1ce4e5b9ull));
    const __m256i m2 = _mm256_set1_epi64x(static_cast<long long>(0x94d049bb133111ebull));
    z = mullo64(_mm256_xor_si256(z, _mm256_srli_epi64(z, 30)), m1);
    z = mullo64(_mm256_xor_si256(z, _mm256_srli_epi64(z, 27)), m2);
    return _mm256_xor_si256(z, _mm256_srli_epi64(z, 31));
}

inline std::uint64_t hsum(__m256i v) {
    alignas(32) std::uint64_t l[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), v);
    return l[0] + l[1] + l[2] + l[3];
}

inline std::uint64_t hxor(__m256i v) {
    alignas(32) std::uint64_t l[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), v);
    return l[0] ^ l[1] ^ l[2] ^ l[3];
}

}  // namespace

// for (i = 0; i < count; ++i) { c = mix64(key ^ (first + i)); sum += c; xor ^= c; }
// Two vectors of four lanes per pass, so the two multiply chains overlap.
ChecksumPair checksum_span_avx2(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    const __m256i k = _mm256_set1_epi64x(static_cast<long long>(key));
    __m256i v0 = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<long long>(first)), _mm256_setr_epi64x(0, 1, 2, 3));
    __m256i v1 = _mm256_add_epi64(v0, _mm256_set1_epi64x(4));
    const __m256i step = _mm256_set1_epi64x(8);
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
    ChecksumPair p{hsum(_mm256_add_epi64(sum0, sum1)), hxor(_mm256_xor_si256(x0, x1))};
    const ChecksumPair tail = checksum_span_scalar(key, first + i, count - i);
    p.sum += tail.sum;
    p.xor_ ^= tail.xor_;
    return p;
}

}  // namespace pelorin
