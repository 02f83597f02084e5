#pragma once
// The checkpoint of the unit in progress: checkpoint.json in the data folder, replaced whole
// after every chunk. It is resumed only when it is whole and sound, belongs to the unit in
// hand (the same begin and end, under this lease id or another) and was made by the backend
// and proof table now in use. A damaged or unfit checkpoint costs the unit's progress, never
// a wrong result and never a run.
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

// What a checkpoint must have been made with to be resumed: the backend that goes on with the
// unit and the proof hash that backend produces.
struct ResumeMatch {
    std::string backend;
    std::string proof_hash;
};

// What a look at checkpoint.json found. Both empty: there is no checkpoint, or a sound one of
// another unit (the next save replaces it).
struct CheckpointLoad {
    std::optional<Checkpoint> checkpoint;  // resume from this
    // Why the file cannot be resumed ("it is cut short", "it lacks checksum_sum", "its offset
    // 11 lies beyond the unit's 10 starts", "it was made by backend cpu-sieve, ..."); empty
    // when it can be, or when it is not this unit's.
    std::string unusable;
};

// checkpoint.json for the unit in hand; a checkpoint comes back under `lease_id` whatever id
// it was saved under. Never throws for what the file holds; the file is never changed.
CheckpointLoad load_checkpoint(const std::string& lease_id, const std::string& begin, const std::string& end,
                               const ResumeMatch& match);

// load_checkpoint on the bytes of a checkpoint.json already read.
CheckpointLoad checkpoint_from_text(const std::string& text, const std::string& lease_id, const std::string& begin,
                                    const std::string& end, const ResumeMatch& match);

// Whatever checkpoint is stored, under its own lease and whatever made it (for a report of the
// worker's state): the checkpoint when it is sound, else why it is not; both empty when there is
// none. Reads only: creates no folder.
CheckpointLoad load_stored_checkpoint();

// Moves checkpoint.json to checkpoint.json.bad, for a person to look at, replacing an earlier
// one; any failure is ignored (the next save replaces the file anyway).
void set_aside_checkpoint();

// Removes checkpoint.json; any failure is ignored.
void delete_checkpoint();

}  // namespace pelorin
