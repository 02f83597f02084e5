#include <gtest/gtest.h>

#include "engine/cpu_features.hpp"

namespace pelorin {
namespace {

// The hand-written CPUID and XGETBV decoding against the compiler runtime's own probe, which
// also asks the OS which register states it saves.
TEST(CpuFeatures, AgreeWithTheCompilerRuntime) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                        __builtin_cpu_supports("avx512vl");
    EXPECT_EQ(cpu_has_avx2(), avx2);
    EXPECT_EQ(cpu_has_avx512(), avx512);
#else
    GTEST_SKIP() << "no compiler runtime probe to compare with";
#endif
}

}  // namespace
}  // namespace pelorin
