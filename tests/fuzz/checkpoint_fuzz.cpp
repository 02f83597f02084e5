// The checkpoint loader on any file bytes, for the lease the file itself names (so that every
// member is read). An accepted checkpoint lies within its lease and, written again, loads
// back to the same text; a refusal carries one of the loader's messages.
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

void check_refusal(const std::exception& e) {
    const std::string_view message = e.what();
    if (message.starts_with("Local checkpoint holds an unusable ") || is_bound_refusal(message)) return;
    expect_message(message, {
                                "empty arbitrary-width integer",
                                "invalid arbitrary-width integer",
                                "stoull argument out of range",
                                "invalid stod argument",
                                "stod argument out of range",
                            });
}

std::optional<Checkpoint> load(const std::string& text, const std::string& lease_id, const std::string& begin,
                               const std::string& end) {
    try {
        return checkpoint_from_text(text, lease_id, begin, end);
    } catch (const std::exception& e) {
        check_refusal(e);
        throw;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(as_text(data, size));
    const std::string lease_id = json_string_field(text, "lease_id", "");
    const std::string begin = json_string_field(text, "begin", "");
    const std::string end = json_string_field(text, "end", "");
    std::optional<Checkpoint> cp;
    try {
        cp = load(text, lease_id, begin, end);
    } catch (const std::exception&) {
        return 0;
    }
    if (!cp) return 0;

    const EndBound bound = parse_end_bound(end);
    expect(cp->offset <= unit_size(UnitRange{parse_u128(begin), bound.value, bound.end_is_2_128}),
           "offset within the lease");
    const std::string written = checkpoint_text(*cp);
    std::optional<Checkpoint> again;
    try {
        again = checkpoint_from_text(written, lease_id, begin, end);
    } catch (const std::exception& e) {
        broken("a written checkpoint fails to load", e.what());
    }
    expect(again.has_value(), "a written checkpoint loads", written);
    expect(checkpoint_text(*again) == written, "a written checkpoint loads to the same text", written);

    // The same unit handed out again under another lease id, for the same backend and proof
    // table: the same work resumes, now under the new id; for any other backend it does not.
    const std::string other_id = lease_id + "-again";
    const ResumeMatch same{cp->result.backend, cp->result.proof_hash};
    const auto resumed = checkpoint_from_text(text, other_id, begin, end, same);
    expect(resumed.has_value() && resumed->lease_id == other_id && resumed->offset == cp->offset &&
               result_json(resumed->result) == result_json(cp->result),
           "a checkpoint resumes under a new lease id", text);
    const ResumeMatch other_backend{cp->result.backend + "x", cp->result.proof_hash};
    expect(!checkpoint_from_text(text, other_id, begin, end, other_backend), "another backend's work is not resumed",
           text);
    return 0;
}
