// The checkpoint loader on any file bytes, for the unit the file itself names (so that every
// member is read). Loading never throws: a file is resumed, ignored as another unit's, or
// unusable with a reason. A resumed checkpoint lies within its unit and, written again, loads
// back to the same text; it resumes under another lease id for its own backend and proof
// hash, and for no other backend or proof table.
#include <optional>
#include <stdexcept>
#include <string>

#include "coordinator/json_text.hpp"
#include "state/checkpoint.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

namespace {

CheckpointLoad load(const std::string& text, const std::string& lease_id, const std::string& begin,
                    const std::string& end, const ResumeMatch& match) {
    try {
        return checkpoint_from_text(text, lease_id, begin, end, match);
    } catch (const std::exception& e) {
        broken("a checkpoint stops the run", e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(as_text(data, size));
    const std::string lease_id = json_string_field(text, "lease_id", "");
    const std::string begin = json_string_field(text, "begin", "");
    const std::string end = json_string_field(text, "end", "");
    const ResumeMatch own{json_string_field(text, "backend", ""), json_string_field(text, "proof_hash", "")};
    const CheckpointLoad first = load(text, lease_id, begin, end, own);
    expect(!(first.checkpoint && !first.unusable.empty()), "resumed or unusable, not both", text);
    if (!first.checkpoint) {
        expect(!first.unusable.empty(), "a file of its own unit is resumed or says why not", text);
        return 0;
    }
    const Checkpoint& cp = *first.checkpoint;

    const EndBound bound = parse_end_bound(end);
    expect(cp.offset <= unit_size(UnitRange{parse_u128(begin), bound.value, bound.end_is_2_128}),
           "offset within the unit");
    const std::string written = checkpoint_text(cp);
    const CheckpointLoad again = load(written, lease_id, begin, end, own);
    expect(again.checkpoint.has_value(), "a written checkpoint loads", written + again.unusable);
    expect(checkpoint_text(*again.checkpoint) == written, "a written checkpoint loads to the same text", written);

    // The same unit handed out again under another lease id, for the same backend and proof
    // table: the same work resumes, now under the new id; for any other it does not.
    const std::string other_id = lease_id + "-again";
    const CheckpointLoad resumed = load(text, other_id, begin, end, own);
    expect(resumed.checkpoint && resumed.checkpoint->lease_id == other_id && resumed.checkpoint->offset == cp.offset &&
               result_json(resumed.checkpoint->result) == result_json(cp.result),
           "a checkpoint resumes under a new lease id", text);
    for (const ResumeMatch& other : {ResumeMatch{own.backend + "x", own.proof_hash},
                                     ResumeMatch{own.backend, own.proof_hash + "0"}}) {
        const CheckpointLoad refused = load(text, lease_id, begin, end, other);
        expect(!refused.checkpoint && !refused.unusable.empty(), "other work is not resumed, and says why", text);
    }
    return 0;
}
