#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/aligned_span.hpp"
#include "engine/cpu_features.hpp"
#include "engine/mix64.hpp"
#include "engine/piece_stream.hpp"

namespace pelorin {
namespace {

struct Kernel {
    const char* name;
    PieceSliceKernel k;
};

std::vector<Kernel> kernels() {
    std::vector<Kernel> k{{"scalar", piece_slice_scalar()}};
    if (cpu_has_avx2()) k.push_back({"avx2", piece_slice_avx2()});
    if (cpu_has_avx512()) k.push_back({"avx512", piece_slice_avx512()});
    return k;
}

// A stream of count starts from origin with `slices` slices asked for (more than fit, too),
// then finished, against the plain loop of the piece.
void expect_plain(const Kernel& k, std::uint64_t origin, std::uint64_t count, std::uint64_t slices) {
    ChecksumStream s(k.k, origin, count);
    for (std::uint64_t i = 0; i < slices; ++i) s.slice();
    const ChecksumPair got = s.finish(), want = aligned_piece_scalar(origin, count);
    const std::string at = std::string(k.name) + " origin " + std::to_string(origin) + " count " + std::to_string(count) +
                           " slices " + std::to_string(slices);
    EXPECT_EQ(got.sum, want.sum) << at;
    EXPECT_EQ(got.xor_, want.xor_) << at;
}

TEST(PieceStream, EveryKernelMatchesThePlainLoopOfThePiece) {
    struct Case {
        std::uint64_t count, slices;
    };
    // Whole blocks sliced not at all, partly, wholly and past their end; runs shorter than one
    // slice, runs that end inside a slice, and an empty one.
    const Case cases[] = {{65536, 0}, {65536, 1}, {65536, 300}, {65536, 5000}, {16, 3}, {48, 1},
                          {1024 + 16, 40}, {256 + 32, 2}, {0, 2}, {1, 1}};
    const std::uint64_t origins[] = {0, aligned_piece_origin(mix64(1), 0, 16),
                                     aligned_piece_origin(~std::uint64_t{0}, 0xffffffffffff0000ull, 16), 0 - 7 * kMix64M1};
    for (const Kernel& k : kernels())
        for (const std::uint64_t origin : origins)
            for (const Case& c : cases) expect_plain(k, origin, c.count, c.slices);
}

TEST(PieceStream, RandomStreamsMatchThePlainLoopOfThePiece) {
    const std::uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t origin = rng(), count = rng() % 5000, slices = rng() % 200;
        for (const Kernel& k : kernels()) expect_plain(k, origin, count, slices);
    }
}

// A whole block's stream is the scalar checksum of its starts, on every kernel.
TEST(PieceStream, AWholeBlockIsItsStartsScalarChecksum) {
    const std::uint64_t hi = 0x0123456789abcdefull, first = 0xfedcba9876540000ull;
    const ChecksumPair want = checksum_span_scalar(mix64(hi), first, 65536);
    for (const Kernel& k : kernels()) {
        ChecksumStream s(k.k, aligned_piece_origin(mix64(hi), first, 16), 65536);
        for (int i = 0; i < 100; ++i) s.slice();
        const ChecksumPair got = s.finish();
        EXPECT_EQ(got.sum, want.sum) << k.name;
        EXPECT_EQ(got.xor_, want.xor_) << k.name;
    }
}

}  // namespace
}  // namespace pelorin
