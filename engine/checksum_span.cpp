#include "engine/checksum_span.hpp"

#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"

namespace pelorin {

ChecksumPair checksum_span_scalar(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    ChecksumPair p;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t c = mix64(key ^ (first + i));
        p.sum += c;
        p.xor_ ^= c;
    }
    return p;
}

ChecksumSpanFn checksum_span_kernel() {
    static const ChecksumSpanFn fn = cpu_has_avx512() ? checksum_span_avx512
                                     : cpu_has_avx2() ? checksum_span_avx2
                                                      : checksum_span_scalar;
    return fn;
}

}  // namespace pelorin
