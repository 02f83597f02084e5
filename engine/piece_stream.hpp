#pragma once
// A block's checksums as aligned pieces (aligned_span.hpp) taken a slice at a time, so that a
// loop of walks can hand the core a slice before each walk. A walk waits on its own results and ends
// on a mispredicted branch; a slice's multiplies wait on nothing, so an out-of-order core runs
// them beside the walk. The slice comes before the walk in program order: the walk's
// mispredicted exit cannot throw it away.
#include <cstdint>

#include "engine/checksum_span.hpp"

namespace pelorin {

// The kernels load and store the lanes unaligned: MinGW does not always align a local to 64.
struct PieceStream {
    alignas(64) std::uint64_t sum[8] = {};  // per vector lane, folded by finish()
    alignas(64) std::uint64_t xor_[8] = {};
    std::uint64_t y = 0;     // the running product of the next start: origin + j * m1
    std::uint64_t left = 0;  // starts not taken yet
};

// Takes the stream's next `starts` starts (the kernel's slice size; left >= starts).
using PieceSliceFn = void (*)(PieceStream& s);

struct PieceSliceKernel {
    PieceSliceFn fn = nullptr;
    std::uint64_t starts = 0;  // a power of two, at least 32
};

PieceSliceKernel piece_slice_scalar();
PieceSliceKernel piece_slice_avx2();
PieceSliceKernel piece_slice_avx512();

// The kernel of the same width as checksum_span_kernel().
PieceSliceKernel piece_slice_kernel();

// The checksums of the starts lo = first .. first + count - 1 under key (as checksum_span):
// the ends off the slices' alignment at once, the rest as aligned pieces taken by slice() in
// the kernel's slices; finish() takes what is left and folds the lanes.
class ChecksumStream {
public:
    ChecksumStream(PieceSliceKernel kernel, std::uint64_t key, std::uint64_t first, std::uint64_t count);
    void slice() {
        if (s_.left < kernel_.starts && !next_piece()) return;
        kernel_.fn(s_);
    }
    ChecksumPair finish();

private:
    bool next_piece();

    PieceSliceKernel kernel_;
    std::uint64_t key_, first_, count_;  // the pieces not begun: multiples of the slice
    ChecksumPair ends_;
    PieceStream s_;
};

}  // namespace pelorin
