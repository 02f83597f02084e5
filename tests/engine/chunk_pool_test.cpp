#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "engine/chunk_pool.hpp"

namespace pelorin {
namespace {

TEST(ChunkPool, RunsEveryChunkOnce) {
    std::vector<std::atomic<int>> seen(1000);
    run_chunk_pool(seen.size(), 4, [&](unsigned thread, std::uint64_t i) {
        ASSERT_LT(thread, 4u);
        seen[i].fetch_add(1);
    });
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].load(), 1) << i;
}

TEST(ChunkPool, AnErrorOnAPoolThreadReachesTheCaller) {
    for (unsigned threads : {1u, 3u}) {
        try {
            run_chunk_pool(100, threads, [](unsigned, std::uint64_t i) {
                if (i == 37) throw std::overflow_error("work unit crosses 2^128");
            });
            FAIL() << "no error with " << threads << " threads";
        } catch (const std::overflow_error& e) {
            EXPECT_STREQ(e.what(), "work unit crosses 2^128");
        }
    }
}

}  // namespace
}  // namespace pelorin
