#include "engine/verify_chunk_avx2.hpp"

#include <algorithm>
#include <stdexcept>

#include "engine/cpu_features.hpp"
#include "engine/lane_tally.hpp"
#include "engine/verify_chunk.hpp"
#include "engine/walk_u64.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {

namespace detail {

void verify_lanes_portable(std::uint64_t first, std::uint64_t count, UnitResult& result) {
    Tally t;
    for (std::uint64_t g = 0; g < count; g += 4) {
        const std::uint64_t m = std::min<std::uint64_t>(4, count - g);
        std::uint64_t s[4] = {}, n[4] = {}, steps[4] = {};
        bool active[4] = {}, overflow[4] = {};
        for (std::uint64_t k = 0; k < m; ++k) {
            s[k] = n[k] = first + g + k;
            active[k] = s[k] > 1;
        }
        for (;;) {
            bool any = false;
            for (std::uint64_t k = 0; k < m; ++k) {
                if (active[k] && (n[k] & 1) && n[k] > kMax3nPlus1Input64) {
                    active[k] = false;
                    overflow[k] = true;
                }
                any = any || active[k];
            }
            if (!any) break;
            for (std::uint64_t k = 0; k < m; ++k) {
                if (!active[k]) continue;
                n[k] = (n[k] & 1) ? 3 * n[k] + 1 : n[k] >> 1;
                ++steps[k];
                if (n[k] < s[k]) active[k] = false;
            }
        }
        for (std::uint64_t k = 0; k < m; ++k) finish_lane(t, s[k], steps[k], overflow[k]);
    }
    t.fold_into(result);
}

LanesFn lanes_kernel_for(bool avx2) { return avx2 ? verify_lanes_avx2 : verify_lanes_portable; }

LanesFn lanes_kernel() {
    static const LanesFn fn = lanes_kernel_for(cpu_has_avx2());
    return fn;
}

}  // namespace detail

UnitResult verify_chunk_avx2(const UnitRange& range, std::uint64_t offset, std::uint64_t count,
                             const std::string& name) {
    bool over = false;
    const U128 first = add_u64(range.begin, offset, &over);
    if (over) throw std::overflow_error("work unit crosses 2^128");
    const U128 last = count == 0 ? first : add_u64(first, count - 1, &over);
    if (over) throw std::overflow_error("work unit crosses 2^128");
    // Lanes are 64 bits wide: a chunk reaching 2^64 is the scalar "ctz" loop.
    if (first.hi != 0 || last.hi != 0) {
        UnitResult r = verify_chunk(range, offset, count, "ctz");
        r.backend = name;
        return r;
    }
    UnitResult r;
    r.mode = "verify";
    r.backend = name;
    r.begin = u128_to_decimal(first);
    bool end_is_2_128 = false;
    const U128 end = add_u64(first, count, &end_is_2_128);
    r.end = end_to_decimal(end_is_2_128 ? U128{} : end, end_is_2_128);
    if (count > 0) detail::lanes_kernel()(first.lo, count, r);
    return r;
}

}  // namespace pelorin
