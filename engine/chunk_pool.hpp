#pragma once
// A pool of threads that runs task(thread, i) once for every chunk index i < chunks, handing
// out indices through one atomic counter; thread < threads names the pool thread. All threads are joined before it returns; the first
// error raised by a task is raised again here, on the caller's thread.
#include <cstdint>
#include <functional>

namespace pelorin {

void run_chunk_pool(std::uint64_t chunks, unsigned threads, const std::function<void(unsigned, std::uint64_t)>& task);

}  // namespace pelorin
