#include "engine/cpu_features.hpp"

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <cstdint>

namespace pelorin {
namespace {

struct Features {
    bool avx2 = false;
    bool avx512 = false;
};

#if defined(_MSC_VER) || defined(__x86_64__) || defined(__i386__)
void cpuid(unsigned leaf, unsigned sub, unsigned regs[4]) {
#if defined(_MSC_VER)
    int r[4];
    __cpuidex(r, static_cast<int>(leaf), static_cast<int>(sub));
    for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned>(r[i]);
#else
    __cpuid_count(leaf, sub, regs[0], regs[1], regs[2], regs[3]);
#endif
}

std::uint64_t xgetbv0() {
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (std::uint64_t{hi} << 32) | lo;
#endif
}

Features detect() {
    Features f;
    unsigned r[4] = {};
    cpuid(0, 0, r);
    const unsigned max_leaf = r[0];
    if (max_leaf < 7) return f;
    cpuid(1, 0, r);
    const bool osxsave = (r[2] >> 27) & 1u;
    const bool avx = (r[2] >> 28) & 1u;
    if (!osxsave || !avx) return f;
    const std::uint64_t xcr0 = xgetbv0();
    const bool ymm_saved = (xcr0 & 0x6) == 0x6;     // SSE and AVX state
    const bool zmm_saved = (xcr0 & 0xe6) == 0xe6;   // plus opmask and both ZMM halves
    cpuid(7, 0, r);
    const unsigned ebx = r[1];
    const bool avx2 = (ebx >> 5) & 1u;
    const bool bmi1 = (ebx >> 3) & 1u;
    const bool bmi2 = (ebx >> 8) & 1u;
    const bool avx512f = (ebx >> 16) & 1u, avx512dq = (ebx >> 17) & 1u, avx512vl = (ebx >> 31) & 1u;
    f.avx2 = ymm_saved && avx2 && bmi1 && bmi2;
    f.avx512 = f.avx2 && zmm_saved && avx512f && avx512dq && avx512vl;
    return f;
}
#else
Features detect() { return {}; }
#endif

const Features& features() {
    static const Features f = detect();
    return f;
}

}  // namespace

bool cpu_has_avx2() { return features().avx2; }
bool cpu_has_avx512() { return features().avx512; }

}  // namespace pelorin
