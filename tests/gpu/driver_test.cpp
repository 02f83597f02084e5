// The CUDA driver as it runs on a machine without a usable device: the real runtime's
// answers, not a simulation. On a machine with a device these tests are skipped.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engine/verify_range.hpp"
#include "gpu/cuda_backend.hpp"
#include "gpu/launch_plan.hpp"
#include "gpu/recursive_tables.hpp"
#include "gpu/run_backend.hpp"

namespace pelorin {
namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

// The runtime's reason when no device is usable; skips the test when one is.
#define REQUIRE_NO_DEVICE(reason)                                              \
    std::string reason;                                                        \
    if (cuda_available(&reason)) GTEST_SKIP() << "a CUDA device is present"; \
    ASSERT_FALSE(reason.empty())

template <class F>
std::string runtime_error_of(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no runtime_error)";
}

TEST(CudaDriver, ProbeAndDescriptionWithoutDevice) {
    REQUIRE_NO_DEVICE(reason);
#if !defined(PELORIN_HAVE_CUDA)
    EXPECT_EQ(reason, kCudaUnavailableText);
#endif
    std::string again = "stale";
    EXPECT_FALSE(cuda_available(&again));
    EXPECT_EQ(again, reason);
    EXPECT_FALSE(cuda_available());
    EXPECT_EQ(cuda_device_description(), "CUDA device unavailable");
    // Steps after the probe that need the device fail with their step text.
    EXPECT_EQ(runtime_error_of([] { grid_blocks(); }), "cudaGetDevice: " + reason);
    EXPECT_EQ(runtime_error_of([] { recursive_tables(16); }), "cudaGetDevice: " + reason);
}

TEST(CudaDriver, NoDeviceRecordComesFirst) {
    REQUIRE_NO_DEVICE(reason);
    struct Case {
        const char* name;
        UnitRange range;
        std::uint32_t block_size;
        const char* begin;
        const char* end;
    };
    // The no-device record is returned before the range size or the block size is looked at.
    const Case cases[] = {
        {"cuda-recursive", {{1, 0}, {101, 0}, false}, 256, "1", "101"},
        {"cuda-naive", {{kMax - 4, kMax}, {}, true}, 0, "340282366920938463463374607431768211451",
         "340282366920938463463374607431768211456"},
        {"cuda-sieve", {{10, 0}, {3, 0}, false}, 3, "10", "3"},
        {"cuda-x", {{0, 0}, {}, true}, 1024, "0", "340282366920938463463374607431768211456"},
    };
    for (const auto& c : cases) {
        BackendOptions o;
        o.name = c.name;
        o.block_size = c.block_size;
        const UnitResult r = verify_range_cuda(c.range, o);
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(r.valid);
        EXPECT_EQ(r.message, reason);
        EXPECT_EQ(r.mode, "verify");
        EXPECT_EQ(r.backend, c.name);
        EXPECT_EQ(r.begin, c.begin);
        EXPECT_EQ(r.end, c.end);
        EXPECT_TRUE(r.checked.is_zero());
        EXPECT_TRUE(r.proof_hash.empty());
        EXPECT_EQ(r.accounting, "per-start");
        EXPECT_EQ(r.elapsed_seconds, 0.0);
        EXPECT_EQ(r.kernel_seconds, 0.0);
        EXPECT_EQ(r.transfer_seconds, 0.0);
    }
}

TEST(CudaDriver, BlockSizeRule) {
    for (std::uint32_t bad : {0u, 3u, 6u, 513u, 1024u, 0xFFFFFFFFu, 0x80000000u}) {
        try {
            check_block_size(bad);
            ADD_FAILURE() << "block size " << bad << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "CUDA block size must be a power of two up to 512") << bad;
        }
    }
    for (std::uint32_t good : {1u, 2u, 128u, 256u, 512u}) EXPECT_NO_THROW(check_block_size(good)) << good;
}

TEST(CudaDriver, CheckTexts) {
    EXPECT_NO_THROW(cuda_check(0, "cudaMalloc"));
#if defined(PELORIN_HAVE_CUDA)
    EXPECT_EQ(runtime_error_of([] { cuda_check(2, "cudaMalloc"); }), "cudaMalloc: out of memory");
#else
    EXPECT_EQ(runtime_error_of([] { cuda_check(2, "cudaMalloc"); }), "cudaMalloc: CUDA device unavailable");
#endif
}

TEST(RunBackend, CudaPrefixGoesToTheGpu) {
    REQUIRE_NO_DEVICE(reason);
    const UnitRange range{{1, 0}, {101, 0}, false};
    BackendOptions o;
    o.threads = 2;
    for (const char* name : {"cuda-recursive", "cuda-", "cuda-anything"}) {
        o.name = name;
        const UnitResult r = run_backend(range, o);
        EXPECT_FALSE(r.valid) << name;
        EXPECT_EQ(r.message, reason) << name;
    }
    // Everything else is the CPU dispatcher's, unknown names included (run as "ctz").
    for (const char* name : {"record-recursive", "scalar", "cuda", "CUDA-recursive", "xcuda-naive"}) {
        o.name = name;
        const UnitResult r = run_backend(range, o);
        const UnitResult want = verify_range(range, o);
        EXPECT_TRUE(r.valid) << name;
        EXPECT_EQ(r.backend, name);
        EXPECT_EQ(r.steps, want.steps) << name;
        EXPECT_EQ(r.checked, BigUint(100)) << name;
    }
}

}  // namespace
}  // namespace pelorin
