#pragma once
// `pelorin-worker status`: where the worker keeps its state and what that state is, without
// contacting the coordinator. The bearer token is never shown.
#include <CLI/CLI.hpp>
#include <string>

#include "state/checkpoint.hpp"
#include "state/installation_totals.hpp"

namespace pelorin {

class StatusCommand {
public:
    explicit StatusCommand(CLI::App& parent);
    CLI::App* app() const { return app_; }
    int run() const;

private:
    CLI::App* app_;
};

// The report's lines, from what the folder holds: its path (and whether it exists), the
// identity text (empty when none is stored), what load_stored_checkpoint found and this
// installation's totals.
std::string status_report(const std::string& folder, bool folder_exists, const std::string& identity_text,
                          const CheckpointLoad& checkpoint, const TotalsLoad& totals);

}  // namespace pelorin
