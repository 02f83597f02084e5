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
    app_ = parent.add_subcommand("status",
                                 "Show the data folder, the stored identity, the checkpoint and what this computer has done");
    app_->footer("Reads the data folder only; the coordinator is not contacted and the token is never shown.");
}

std::string status_report(const std::string& folder, bool folder_exists, const std::string& identity_text,
                          const CheckpointLoad& checkpoint, const TotalsLoad& totals) {
    std::string out = "Data folder   " + folder + (folder_exists ? "" : " (not made yet)") + "\n";
    if (identity_text.empty()) {
        out += "Identity      none stored; the next run registers\n";
    } else {
        const std::string worker_id = printable_text(json_string_field(identity_text, "worker_id", ""));
        const bool has_token = !json_string_field(identity_text, "token", "").empty();
        out += worker_id.empty() || !has_token ? "Identity      stored, not registered yet\n"
                                               : "Identity      registered as worker " + worker_id + "\n";
    }
    if (!checkpoint.unusable.empty()) {
        out += "Checkpoint    unusable: " + printable_text(checkpoint.unusable) +
               "; the run that leases its unit sets it aside and starts the unit from 0\n";
    } else if (const auto& cp = checkpoint.checkpoint; !cp) {
        out += "Checkpoint    none\n";
    } else {
        const EndBound end = parse_end_bound(cp->end);
        const std::uint64_t count = unit_size(UnitRange{parse_u128(cp->begin), end.value, end.end_is_2_128});
        // Stored texts are shown, not obeyed: a control character in them is replaced.
        out += "Checkpoint    lease " + printable_text(cp->lease_id) + "\n";
        out += "              range [" + printable_text(cp->begin) + ", " + printable_text(cp->end) + ")\n";
        out += "              backend " + printable_text(cp->result.backend) + "\n";
        out += "              " + std::to_string(cp->offset) + " of " + std::to_string(count) +
               " starts verified (" + unit_percent_text(cp->offset, count) + ")\n";
    }
    if (const auto& t = totals.totals) {
        out += installation_totals_text(t->units_accepted, biguint_to_decimal(t->starts_verified), t->since) + "\n";
    } else if (!totals.unusable.empty()) {
        out += "This computer: totals unusable (" + printable_text(totals.unusable) +
               "); the next run counts again from zero.\n";
    } else {
        out += "This computer: no unit accepted yet.\n";
    }
    return out;
}

int StatusCommand::run() const {
    // Only looks: a folder that does not exist is not made.
    const std::filesystem::path folder = data_folder_location();
    std::error_code ec;
    const bool exists = std::filesystem::is_directory(folder, ec);
    std::cout << status_report(path_text(folder), exists, read_identity_text(), load_stored_checkpoint(),
                             load_totals());
    return 0;
}

}  // namespace pelorin
