#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

std::string hex(std::uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

// A stream of a run with `slices` slices asked for (more than fit, too), then finished,
// against the scalar checksum of the run.
void expect_scalar(const Kernel& k, std::uint64_t key, std::uint64_t first, std::uint64_t count, std::uint64_t slices) {
    ChecksumStream s(k.k, key, first, count);
    for (std::uint64_t i = 0; i < slices; ++i) s.slice();
    const ChecksumPair got = s.finish(), want = checksum_span_scalar(key, first, count);
    const std::string at = std::string(k.name) + " key " + hex(key) + " first " + hex(first) + " count " +
                           std::to_string(count) + " slices " + std::to_string(slices);
    EXPECT_EQ(got.sum, want.sum) << at;
    EXPECT_EQ(got.xor_, want.xor_) << at;
}

// Whole blocks sliced not at all, partly, wholly and past their end; cut blocks whose ends
// are off the slices' alignment (pieces of many sizes between), runs shorter than a slice,
// runs from 0 and up to 2^64, and an empty one.
TEST(PieceStream, EveryKernelMatchesTheScalarChecksum) {
    constexpr std::uint64_t kTop = 0;  // first + count = 2^64
    struct Case {
        std::uint64_t first, count, slices;
    };
    const Case cases[] = {{0x1230000, 65536, 0},     {0x1230000, 65536, 1},      {0x1230000, 65536, 300},
                          {0x1230000, 65536, 5000},  {0x1230005, 65531, 40},     {0x1230000, 40000, 200},
                          {0x123a5a3, 12345, 100},   {0x1230011, 100, 3},        {0x1230020, 96, 1},
                          {0, 65536, 100},           {0, 1000, 10},              {kTop - 65536, 65536, 600},
                          {kTop - 20000, 20000, 7},  {kTop - 5, 5, 1},           {0x1230000, 0, 2}};
    const std::uint64_t keys[] = {0, mix64(1), ~std::uint64_t{0}};
    for (const Kernel& k : kernels())
        for (const std::uint64_t key : keys)
            for (const Case& c : cases) expect_scalar(k, key, c.first, c.count, c.slices);
}

TEST(PieceStream, RandomRunsMatchTheScalarChecksum) {
    const std::uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t key = rng(), count = rng() % 70000, slices = rng() % 700;
        const std::uint64_t first = std::min(rng(), 0 - count);  // up to 2^64, not past it
        for (const Kernel& k : kernels()) expect_scalar(k, key, first, count, slices);
    }
}

}  // namespace
}  // namespace pelorin
