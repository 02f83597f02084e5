#include "state/checkpoint.hpp"

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "coordinator/json_text.hpp"
#include "coordinator/safe_text.hpp"
#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {
namespace {

constexpr const char* kFileName = "checkpoint.json";

std::filesystem::path checkpoint_path() { return data_folder() / kFileName; }

BigUint counter(const std::string& text, const char* key) {
    return parse_biguint(json_string_field(text, key, "0"));
}

// The standard text-to-double conversion, with the messages this program reports.
double seconds(const std::string& text, const char* key) {
    const std::string value = json_string_field(text, key, "0");
    try {
        const double seconds = std::stod(value);
        // A subnormal time is out of range as its decimal text is: accepted from an exact hex
        // form, it would be written in decimal and refused on the next load.
        if (std::fpclassify(seconds) == FP_SUBNORMAL) throw std::out_of_range(value);
        return seconds;
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stod argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stod argument out of range");
    }
}

// Texts that are written back into checkpoint.json or sent in the result record.
std::string stored_text(const std::string& text, const char* key) {
    std::string value = json_string_field(text, key, "");
    require_safe_text("Local checkpoint holds", key, value, TextPlace::json_string);
    return value;
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
    const std::filesystem::path final_path = checkpoint_path();
    std::filesystem::path temp_path = final_path;
    temp_path += ".tmp";
    if (!write_file_durably(temp_path, checkpoint_text(cp), FileAccess::shared)) {
        throw std::runtime_error("Could not write local checkpoint");
    }
    if (!replace_file(temp_path, final_path)) throw std::runtime_error("Could not commit local checkpoint");
}

namespace {

std::optional<std::string> read_checkpoint_file() {
    std::ifstream in(checkpoint_path(), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool sound_seconds(double value) { return std::isfinite(value) && value >= 0.0; }

}  // namespace

std::optional<Checkpoint> checkpoint_from_text(const std::string& text, const std::string& lease_id,
                                               const std::string& begin, const std::string& end,
                                               const std::optional<ResumeMatch>& other_lease) {
    if (json_string_field(text, "begin", "") != begin) return std::nullopt;
    if (json_string_field(text, "end", "") != end) return std::nullopt;
    if (json_string_field(text, "lease_id", "") != lease_id) {
        // The same range under a new lease: the work done is the same work if the backend and
        // its proof table are.
        if (!other_lease || json_string_field(text, "backend", "") != other_lease->backend ||
            json_string_field(text, "proof_hash", "") != other_lease->proof_hash)
            return std::nullopt;
    }

    Checkpoint cp;
    cp.lease_id = lease_id;
    cp.begin = begin;
    cp.end = end;
    UnitResult& r = cp.result;
    r.mode = "verify";
    r.begin = begin;
    r.end = end;
    cp.offset = json_u64_field(text, "offset", 0);
    r.backend = stored_text(text, "backend");
    r.checked = counter(text, "checked");
    r.candidates = counter(text, "candidates");
    r.survivors_evaluated = counter(text, "survivors");
    r.proof_exclusions = counter(text, "proof_exclusions");
    r.frontier_nodes = counter(text, "frontier_nodes");
    r.steps = counter(text, "steps");
    r.u64_completions = counter(text, "u64");
    r.u128_completions = counter(text, "u128");
    r.u256_completions = counter(text, "u256");
    r.bigint_completions = counter(text, "bigint");
    r.proof_hash = stored_text(text, "proof_hash");
    r.checksum_sum = json_u64_field(text, "checksum_sum", 0);
    r.checksum_xor = json_u64_field(text, "checksum_xor", 0);
    r.elapsed_seconds = seconds(text, "elapsed");
    r.kernel_seconds = seconds(text, "kernel");
    r.transfer_seconds = seconds(text, "transfer");
    // Files written before these two members existed load as a valid record.
    r.valid = json_bool_field(text, "valid", true);
    r.message = stored_text(text, "message");

    // "nan" or "inf" would go out as a bare word in the result JSON, which no reader accepts:
    // the coordinator would refuse the unit on every restart until the lease ran out.
    if (!sound_seconds(r.elapsed_seconds) || !sound_seconds(r.kernel_seconds) || !sound_seconds(r.transfer_seconds))
        return std::nullopt;

    const EndBound bound = parse_end_bound(end);
    const std::uint64_t length = unit_size(UnitRange{parse_u128(begin), bound.value, bound.end_is_2_128});
    if (cp.offset > length) return std::nullopt;
    return cp;
}

std::optional<Checkpoint> load_checkpoint(const std::string& lease_id, const std::string& begin,
                                          const std::string& end, const std::optional<ResumeMatch>& other_lease) {
    const auto text = read_checkpoint_file();
    if (!text) return std::nullopt;
    return checkpoint_from_text(*text, lease_id, begin, end, other_lease);
}

std::optional<Checkpoint> load_stored_checkpoint() {
    const auto text = read_checkpoint_file();
    if (!text) return std::nullopt;
    return checkpoint_from_text(*text, json_string_field(*text, "lease_id", ""), json_string_field(*text, "begin", ""),
                                json_string_field(*text, "end", ""));
}

void delete_checkpoint() {
    // The unit is already completed; a checkpoint left behind only fails to match later.
    try {
        std::error_code ignored;
        std::filesystem::remove(checkpoint_path(), ignored);
    } catch (const std::filesystem::filesystem_error&) {
    }
}

}  // namespace pelorin
