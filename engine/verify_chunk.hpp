#pragma once
// The range loop of one chunk: every start of begin + offset .. begin + offset + count - 1
// is checked, counted and checksummed by the rules of the backend name.
#include <cstdint>
#include <string>

#include "engine/piece_stream.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

// Throws std::overflow_error "work unit crosses 2^128" when a start would reach 2^128.
UnitResult verify_chunk(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name);

// The same record computed start by start with the plain U128 checks, no fast paths: the
// reference the fast loop is tested against.
UnitResult verify_chunk_reference(const UnitRange& range, std::uint64_t offset, std::uint64_t count,
                                  const std::string& name);

namespace detail {
// verify_chunk with a chosen checksum slice kernel, so that tests reach every kernel.
UnitResult verify_chunk_with(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name,
                             PieceSliceKernel slices);
}  // namespace detail

}  // namespace pelorin
