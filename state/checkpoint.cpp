#include "state/checkpoint.hpp"

#include <sstream>
#include <stdexcept>
#include <system_error>

#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/flat_json_object.hpp"
#include "state/flat_members.hpp"
#include "state/whole_file.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {
namespace {

constexpr const char* kFileName = "checkpoint.json";
constexpr const char* kSetAsideName = "checkpoint.json.bad";

std::optional<std::string> read_checkpoint_file() { return read_whole_file(data_folder_location() / kFileName); }

// The checkpoint a text holds, under its own lease; throws NotFlatObject with why it cannot
// be resumed.
Checkpoint read_checkpoint(const std::string& text) {
    const FlatObject object = read_flat_json_object(text);
    const FlatMembers m(object);
    Checkpoint cp;
    cp.lease_id = m.text("lease_id");
    cp.begin = m.text("begin");
    cp.end = m.text("end");
    cp.offset = m.number("offset");
    UnitResult& r = cp.result;
    r.mode = "verify";
    r.begin = cp.begin;
    r.end = cp.end;
    r.backend = m.text("backend");
    r.checked = m.counter("checked");
    r.candidates = m.counter("candidates");
    r.survivors_evaluated = m.counter("survivors");
    r.proof_exclusions = m.counter("proof_exclusions");
    r.frontier_nodes = m.counter("frontier_nodes");
    r.steps = m.counter("steps");
    r.u64_completions = m.counter("u64");
    r.u128_completions = m.counter("u128");
    r.u256_completions = m.counter("u256");
    r.bigint_completions = m.counter("bigint");
    r.proof_hash = m.text("proof_hash");
    r.checksum_sum = m.number("checksum_sum");
    r.checksum_xor = m.number("checksum_xor");
    r.elapsed_seconds = m.seconds("elapsed");
    r.kernel_seconds = m.seconds("kernel");
    r.transfer_seconds = m.seconds("transfer");
    // Files written before these two members existed hold neither, and load as a valid record.
    if (m.has("valid") || m.has("message")) {
        r.valid = m.boolean("valid");
        r.message = m.text("message");
    }

    std::uint64_t length = 0;
    try {
        const EndBound bound = parse_end_bound(cp.end);
        length = unit_size(UnitRange{parse_u128(cp.begin), bound.value, bound.end_is_2_128});
    } catch (const std::exception& e) {
        throw NotFlatObject("its range is unusable: " + std::string(e.what()));
    }
    if (cp.offset > length)
        throw NotFlatObject("its offset " + std::to_string(cp.offset) + " lies beyond the unit's " + std::to_string(length) +
                       " starts");
    return cp;
}

}  // namespace

std::string checkpoint_text(const Checkpoint& cp) {
    const UnitResult& r = cp.result;
    std::ostringstream out;
    out << "{\"lease_id\":\"" << cp.lease_id << "\",\"begin\":\"" << cp.begin << "\",\"end\":\"" << cp.end
        << "\",\"offset\":" << cp.offset << ",\"backend\":\"" << r.backend << "\",\"checked\":\"" << r.checked
        << "\",\"candidates\":\"" << r.candidates << "\",\"survivors\":\"" << r.survivors_evaluated
        << "\",\"proof_exclusions\":\"" << r.proof_exclusions << "\",\"frontier_nodes\":\"" << r.frontier_nodes
        << "\",\"steps\":\"" << r.steps << "\",\"u64\":\"" << r.u64_completions << "\",\"u128\":\""
        << r.u128_completions << "\",\"u256\":\"" << r.u256_completions << "\",\"bigint\":\""
        << r.bigint_completions << "\",\"proof_hash\":\"" << r.proof_hash << "\",\"checksum_sum\":" << r.checksum_sum
        << ",\"checksum_xor\":" << r.checksum_xor << ",\"elapsed\":\"" << format_seconds(r.elapsed_seconds)
        << "\",\"kernel\":\"" << format_seconds(r.kernel_seconds) << "\",\"transfer\":\""
        << format_seconds(r.transfer_seconds) << "\""
        // A resumed unit must still report a counterexample found before the restart.
        << ",\"valid\":" << (r.valid ? "true" : "false") << ",\"message\":\"" << r.message << "\"}\n";
    return out.str();
}

void save_checkpoint(const Checkpoint& cp) {
    replace_or_throw(data_folder() / kFileName, checkpoint_text(cp), FileAccess::shared, "local checkpoint");
}

CheckpointLoad checkpoint_from_text(const std::string& text, const std::string& lease_id, const std::string& begin,
                                    const std::string& end, const ResumeMatch& match) {
    Checkpoint cp;
    try {
        cp = read_checkpoint(text);
    } catch (const NotFlatObject& e) {
        return CheckpointLoad{std::nullopt, e.what()};
    }
    // Another unit's: the next save replaces it. The lease id does not matter: a unit handed
    // out again under a new id is the same work.
    if (cp.begin != begin || cp.end != end) return {};
    // A record goes on only with the backend and proof table that began it: an upgrade that
    // changed the table, or a device that is gone, would otherwise send a mixed record.
    if (cp.result.backend != match.backend)
        return CheckpointLoad{std::nullopt, "it was made by backend " + cp.result.backend + ", and this run uses " +
                                                match.backend};
    if (cp.result.proof_hash != match.proof_hash)
        return CheckpointLoad{std::nullopt, "it was made with another proof table than this run's"};
    cp.lease_id = lease_id;
    return CheckpointLoad{std::move(cp), {}};
}

CheckpointLoad load_checkpoint(const std::string& lease_id, const std::string& begin, const std::string& end,
                               const ResumeMatch& match) {
    const auto text = read_checkpoint_file();
    if (!text) return {};
    return checkpoint_from_text(*text, lease_id, begin, end, match);
}

CheckpointLoad load_stored_checkpoint() {
    const auto text = read_checkpoint_file();
    if (!text) return {};
    try {
        return CheckpointLoad{read_checkpoint(*text), {}};
    } catch (const NotFlatObject& e) {
        return CheckpointLoad{std::nullopt, e.what()};
    }
}

void set_aside_checkpoint() {
    try {
        const std::filesystem::path folder = data_folder_location();
        replace_file(folder / kFileName, folder / kSetAsideName);
    } catch (const std::exception&) {
    }
}

void delete_checkpoint() {
    // The unit is already completed; a checkpoint left behind only fails to match later.
    try {
        std::error_code ignored;
        std::filesystem::remove(data_folder_location() / kFileName, ignored);
    } catch (const std::filesystem::filesystem_error&) {
    }
}

}  // namespace pelorin
