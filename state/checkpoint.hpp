#pragma once
// The checkpoint of the unit in progress: checkpoint.json in the data folder, replaced whole
// after every chunk and accepted on load only for the same lease, begin and end.
#include <cstdint>
#include <optional>
#include <string>

#include "state/unit_result.hpp"

namespace pelorin {

struct Checkpoint {
    std::string lease_id;
    std::string begin;
    std::string end;
    std::uint64_t offset = 0;
    UnitResult result;
};

// The one-line text of checkpoint.json, ending in a line feed.
std::string checkpoint_text(const Checkpoint& cp);

// Throws std::runtime_error "Could not write local checkpoint" or "Could not commit local
// checkpoint"; the previous checkpoint.json is then unchanged.
void save_checkpoint(const Checkpoint& cp);

// Absent when there is no readable checkpoint of this lease, begin and end, or its offset
// lies beyond the lease. A malformed member throws (the parse errors of counters, numbers and
// times, the range errors of the bounds, an unusable text); the file is never changed.
std::optional<Checkpoint> load_checkpoint(const std::string& lease_id, const std::string& begin,
                                          const std::string& end);

// load_checkpoint on the bytes of a checkpoint.json already read.
std::optional<Checkpoint> checkpoint_from_text(const std::string& text, const std::string& lease_id,
                                               const std::string& begin, const std::string& end);

// Removes checkpoint.json; any failure is ignored.
void delete_checkpoint();

}  // namespace pelorin
