#include "app/cmd_status.hpp"

#include <filesystem>
#include <iostream>

#include "coordinator/identity_store.hpp"
#include "coordinator/json_text.hpp"
#include "state/data_folder.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"
#include "worker/display_text.hpp"
#include "worker/status_text.hpp"

namespace pelorin {

StatusCommand::StatusCommand(CLI::App& parent) {
    app_ = parent.add_subcommand("status", "Show the data folder, the stored identity and the checkpoint");
    app_->footer("Reads the data folder only; the coordinator is not contacted and the token is never shown.");
}

std::string status_report(const std::string& folder, const std::string& identity_text,
                          const std::optional<Checkpoint>& checkpoint, const std::string& checkpoint_problem) {
    std::string out = "Data folder   " + folder + "\n";
    if (identity_text.empty()) {
        out += "Identity      none stored; the next run registers\n";
    } else {
        const std::string worker_id = printable_text(json_string_field(identity_text, "worker_id", ""));
        const bool has_token = !json_string_field(identity_text, "token", "").empty();
        out += worker_id.empty() || !has_token ? "Identity      stored, not registered yet\n"
                                               : "Identity      registered as worker " + worker_id + "\n";
    }
    if (!checkpoint_problem.empty()) {
        out += "Checkpoint    unreadable: " + printable_text(checkpoint_problem) + "\n";
    } else if (!checkpoint) {
        out += "Checkpoint    none\n";
    } else {
        const EndBound end = parse_end_bound(checkpoint->end);
        const std::uint64_t count = unit_size(UnitRange{parse_u128(checkpoint->begin), end.value, end.end_is_2_128});
        // Stored texts are shown, not obeyed: a control character in them is replaced.
        out += "Checkpoint    lease " + printable_text(checkpoint->lease_id) + "\n";
        out += "              range [" + printable_text(checkpoint->begin) + ", " + printable_text(checkpoint->end) + ")\n";
        out += "              backend " + printable_text(checkpoint->result.backend) + "\n";
        out += "              " + std::to_string(checkpoint->offset) + " of " + std::to_string(count) +
               " starts verified (" + unit_percent_text(checkpoint->offset, count) + ")\n";
    }
    return out;
}

int StatusCommand::run() const {
    const std::filesystem::path folder = data_folder();
    std::optional<Checkpoint> checkpoint;
    std::string problem;
    try {
        checkpoint = load_stored_checkpoint();
    } catch (const std::exception& e) {
        problem = e.what();
    }
    std::cout << status_report(path_text(folder), read_identity_text(), checkpoint, problem);
    return 0;
}

}  // namespace pelorin
