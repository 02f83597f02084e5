#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/aligned_span.hpp"
#include "engine/checksum_span.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"

namespace pelorin {
namespace {

struct Kernel {
    const char* name;
    ChecksumSpanFn fn;
};

// The plain composition by pieces runs everywhere; the vector kernels where the processor has them.
ChecksumPair plain_by_pieces(std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    return checksum_by_pieces(key, first, count, checksum_span_scalar, aligned_piece_scalar);
}

std::vector<Kernel> kernels() {
    std::vector<Kernel> k{{"plain by pieces", plain_by_pieces}};
    if (cpu_has_avx2()) k.push_back({"avx2", checksum_span_avx2});
    if (cpu_has_avx512()) k.push_back({"avx512", checksum_span_avx512});
    return k;
}

std::string hex(std::uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

void expect_scalar(const Kernel& k, std::uint64_t key, std::uint64_t first, std::uint64_t count) {
    const ChecksumPair want = checksum_span_scalar(key, first, count);
    const ChecksumPair got = k.fn(key, first, count);
    EXPECT_EQ(got.sum, want.sum) << k.name << " key " << hex(key) << " first " << hex(first) << " count " << count;
    EXPECT_EQ(got.xor_, want.xor_) << k.name << " key " << hex(key) << " first " << hex(first) << " count " << count;
}

TEST(ChecksumSpan, KnownAnswer) {
    const ChecksumPair one = checksum_span_scalar(0, 1, 1);
    EXPECT_EQ(one.sum, 0x5692161d100b05e5ull);
    EXPECT_EQ(mix64_from_product(0x1234 * kMix64M1), mix64(0x1234));
}

// Aligned spans of every piece size up to 2^18, the same spans shifted off their alignment,
// short runs, and runs that end at 2^64 (the low limb's last value).
TEST(ChecksumSpan, EveryKernelMatchesTheScalarLoopOnATableOfSpans) {
    constexpr std::uint64_t kTop = 0;  // first + count = 2^64
    struct Span {
        std::uint64_t first, count;
    };
    std::vector<Span> spans = {{0, 65536},           {1, 65535},        {123456789, 0},     {123456789, 1},
                               {123456789, 7},       {123456784, 16},   {123456785, 15},    {123456780, 17},
                               {123456789, 4099},    {1ull << 32, 65536}, {(1ull << 32) - 8, 65552},
                               {kTop - 65536, 65536}, {kTop - 65535, 65535}, {kTop - 16, 16},
                               {kTop - 1, 1},        {0x40000000, 1u << 18}, {0x3fff0000, 1u << 17}};
    for (unsigned b = 4; b <= 18; ++b) {
        const std::uint64_t n = std::uint64_t{1} << b;
        spans.push_back({0x0123456789abcdefull & ~(n - 1), n});       // aligned, one piece
        spans.push_back({(0x0123456789abcdefull & ~(n - 1)) + 3, n});  // unaligned: ends and smaller pieces
    }
    const std::uint64_t keys[] = {0, mix64(1), mix64(0xdeadbeef), ~std::uint64_t{0}};
    for (const Kernel& k : kernels())
        for (const std::uint64_t key : keys)
            for (const Span& s : spans) expect_scalar(k, key, s.first, s.count);
}

TEST(ChecksumSpan, RandomSpansMatchTheScalarLoop) {
    const std::uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t key = rng();
        // Random alignment, then a few starts off it, so pieces of every size come up.
        const unsigned align = static_cast<unsigned>(rng() % 24);
        const std::uint64_t first = (rng() & ~((std::uint64_t{1} << align) - 1)) + rng() % 4 * (rng() % 17);
        const std::uint64_t count = std::min<std::uint64_t>(rng() % (1u << 17), 0 - first == 0 ? ~0ull : 0 - first);
        for (const Kernel& k : kernels()) expect_scalar(k, key, first, count);
    }
}

// Pieces past 2^30, where the first shift-xor moves i's own bits: a run of 2^31 from an
// aligned start (one piece) must equal the same run cut after eight starts (pieces of every
// size from 16 to 2^30): a wrong piece at any size would show. The widest kernel only: the cut into pieces is shared, and the plain loop would
// take seconds.
TEST(ChecksumSpan, LargestPiecesAgreeWithEverySmallerSize) {
    const Kernel k = kernels().back();
    if (k.fn == plain_by_pieces) GTEST_SKIP() << "no vector kernel on this processor";
    const std::uint64_t key = mix64(3), first = 0x7700000080000000ull, n = std::uint64_t{1} << 31;
    const ChecksumPair whole = k.fn(key, first, n);
    const ChecksumPair a = k.fn(key, first, 8), b = k.fn(key, first + 8, n - 8);
    EXPECT_EQ(whole.sum, a.sum + b.sum) << k.name << " key " << hex(key);
    EXPECT_EQ(whole.xor_, a.xor_ ^ b.xor_) << k.name << " key " << hex(key);
}

}  // namespace
}  // namespace pelorin
