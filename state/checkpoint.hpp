#pragma once
// The checkpoint of the unit in progress: checkpoint.json in the data folder, replaced whole
// after every chunk and accepted on load for the same lease, begin and end, or for the same
// range and backend under another lease id.
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

// What a checkpoint written under another lease id must match to be resumed: the backend that
// goes on with the unit and the proof hash that backend produces.
struct ResumeMatch {
    std::string backend;
    std::string proof_hash;
};

// Absent when there is no readable checkpoint of this lease, begin and end, or its offset
// lies beyond the lease, or one of its times is not a finite number >= 0. With `other_lease`,
// a checkpoint of another lease id is accepted too when its begin, end, backend and proof
// hash match; it comes back under the lease id in hand. A malformed member throws (the parse
// errors of counters, numbers and times, the range errors of the bounds, an unusable text);
// the file is never changed.
std::optional<Checkpoint> load_checkpoint(const std::string& lease_id, const std::string& begin,
                                          const std::string& end,
                                          const std::optional<ResumeMatch>& other_lease = std::nullopt);

// load_checkpoint on the bytes of a checkpoint.json already read.
std::optional<Checkpoint> checkpoint_from_text(const std::string& text, const std::string& lease_id,
                                               const std::string& begin, const std::string& end,
                                               const std::optional<ResumeMatch>& other_lease = std::nullopt);

// Whatever checkpoint is stored, under its own lease (for a report of the worker's state);
// absent when there is none or it would not be accepted for its own lease.
std::optional<Checkpoint> load_stored_checkpoint();

// Removes checkpoint.json; any failure is ignored.
void delete_checkpoint();

}  // namespace pelorin
