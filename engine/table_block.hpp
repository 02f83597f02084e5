#pragma once
// The walks of one 2^16 block under the proof table ("record-recursive"), counted exactly as
// check_start with the shortcut would count them start by start, with less work: below 2^111
// by the 2^24 class table, above it by the proof table's survivors with their first 16
// iterations folded where the values provably stay below 2^128.
#include <cstdint>

#include "engine/chunk_tally.hpp"
#include "engine/piece_stream.hpp"

namespace pelorin {

// The table's survivors among the starts (hi, base + r) for residues lo_r <= r < hi_r of the
// block at base (a multiple of 2^16, not the first block). Adds their candidates, steps and
// completions to t; the caller counts the block's checked starts, exclusions and checksums.
// Takes a slice of `checksums` before each walk. Returns the number of survivors walked.
std::uint64_t walk_table_block(std::uint64_t hi, std::uint64_t base, std::uint64_t lo_r, std::uint64_t hi_r, Tally& t,
                               ChecksumStream& checksums);

}  // namespace pelorin
