#include <gtest/gtest.h>

#include "engine/checksum_span.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"

namespace pelorin {
namespace {

TEST(ChecksumSpan, EveryKernelMatchesTheScalarLoop) {
    struct Kernel {
        const char* name;
        ChecksumSpanFn fn;
        bool present;
    };
    const Kernel kernels[] = {{"avx2", checksum_span_avx2, cpu_has_avx2()},
                              {"avx512", checksum_span_avx512, cpu_has_avx512()}};
    const std::uint64_t keys[] = {0, mix64(1), mix64(0xdeadbeef)};
    const std::uint64_t counts[] = {0, 1, 7, 8, 15, 16, 17, 1000, 4099};
    for (const auto& k : kernels) {
        if (!k.present) continue;
        for (auto key : keys)
            for (auto count : counts) {
                const std::uint64_t first = 123456789 + count;
                const ChecksumPair want = checksum_span_scalar(key, first, count);
                const ChecksumPair got = k.fn(key, first, count);
                EXPECT_EQ(got.sum, want.sum) << k.name << " key " << key << " count " << count;
                EXPECT_EQ(got.xor_, want.xor_) << k.name << " key " << key << " count " << count;
            }
    }
    const ChecksumPair one = checksum_span_scalar(0, 1, 1);
    EXPECT_EQ(one.sum, 0x5692161d100b05e5ull);
}

}  // namespace
}  // namespace pelorin
