// Compiled with AVX2 enabled; entered only after cpu_has_avx2(). No 256-bit vector crosses
// a call boundary: MinGW aligns the stack to 16 bytes only.
#include <immintrin.h>

#include <algorithm>

#include "engine/lane_tally.hpp"
#include "engine/verify_chunk_avx2.hpp"
#include "engine/walk_u64.hpp"

namespace pelorin::detail {

// Per group of four starts (see verify_lanes_portable for the lane-at-a-time form):
//   loop {
//     overflow |= active & odd(n) & (n > bound); active &= ~that;
//     if (!any(active)) break;
//     n' = odd(n) ? 3n+1 : n>>1;
//     steps += active; n = active ? n' : 0; active &= ~(n < s);
//   }
void verify_lanes_avx2(std::uint64_t first, std::uint64_t count, UnitResult& result) {
    Tally t;
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ull));
    // Unsigned compares as signed compares of values with the top bit flipped.
    const __m256i bound_s = _mm256_xor_si256(_mm256_set1_epi64x(static_cast<long long>(kMax3nPlus1Input64)), sign);
    for (std::uint64_t g = 0; g < count; g += 4) {
        const std::uint64_t m = std::min<std::uint64_t>(4, count - g);
        alignas(32) std::uint64_t lane_s[4] = {}, lane_steps[4] = {}, lane_over[4] = {};
        alignas(32) std::uint64_t lane_active[4] = {};
        for (std::uint64_t k = 0; k < m; ++k) {
            lane_s[k] = first + g + k;
            lane_active[k] = lane_s[k] > 1 ? ~std::uint64_t{0} : 0;
        }
        const __m256i s = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane_s));
        const __m256i s_s = _mm256_xor_si256(s, sign);
        __m256i n = s;
        __m256i active = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane_active));
        __m256i steps = _mm256_setzero_si256();
        __m256i overflow = _mm256_setzero_si256();
        for (;;) {
            const __m256i odd = _mm256_cmpeq_epi64(_mm256_and_si256(n, one), one);
            const __m256i big = _mm256_cmpgt_epi64(_mm256_xor_si256(n, sign), bound_s);
            const __m256i over = _mm256_and_si256(_mm256_and_si256(odd, big), active);
            overflow = _mm256_or_si256(overflow, over);
            active = _mm256_andnot_si256(over, active);
            if (_mm256_testz_si256(active, active)) break;
            const __m256i tripled = _mm256_add_epi64(_mm256_add_epi64(n, _mm256_add_epi64(n, n)), one);
            const __m256i next = _mm256_blendv_epi8(_mm256_srli_epi64(n, 1), tripled, odd);
            steps = _mm256_sub_epi64(steps, active);  // active lanes are all ones, i.e. -1
            n = _mm256_and_si256(next, active);
            const __m256i below = _mm256_cmpgt_epi64(s_s, _mm256_xor_si256(n, sign));
            active = _mm256_andnot_si256(below, active);
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(lane_steps), steps);
        _mm256_store_si256(reinterpret_cast<__m256i*>(lane_over), overflow);
        for (std::uint64_t k = 0; k < m; ++k) finish_lane(t, lane_s[k], lane_steps[k], lane_over[k] != 0);
    }
    t.fold_into(result);
}

}  // namespace pelorin::detail
