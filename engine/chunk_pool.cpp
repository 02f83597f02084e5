#include "engine/chunk_pool.hpp"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace pelorin {

void run_chunk_pool(std::uint64_t chunks, unsigned threads, const std::function<void(unsigned, std::uint64_t)>& task) {
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex error_mutex;
    auto work = [&](unsigned thread) {
        try {
            while (!failed.load(std::memory_order_relaxed)) {
                const std::uint64_t i = next.fetch_add(1);
                if (i >= chunks) return;
                task(thread, i);
            }
        } catch (...) {
            std::lock_guard lock(error_mutex);
            if (!error) error = std::current_exception();
            failed = true;  // the others stop taking chunks; the call fails anyway
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads);
    try {
        for (unsigned i = 0; i < threads; ++i) pool.emplace_back(work, i);
    } catch (...) {
        // Threads already started must be joined before the error leaves, or their
        // destructors would end the process.
        failed = true;
        for (auto& t : pool) t.join();
        throw;
    }
    for (auto& t : pool) t.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace pelorin
