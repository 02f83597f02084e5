#pragma once
// `pelorin-worker status`: where the worker keeps its state and what that state is, without
// contacting the coordinator. The bearer token is never shown.
#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "state/checkpoint.hpp"

namespace pelorin {

class StatusCommand {
public:
    explicit StatusCommand(CLI::App& parent);
    CLI::App* app() const { return app_; }
    int run() const;

private:
    CLI::App* app_;
};

// The report's lines, from what the folder holds: its path, the identity text (empty when
// none is stored) and the checkpoint (absent when none is stored, with a reason when it cannot
// be read).
std::string status_report(const std::string& folder, const std::string& identity_text,
                          const std::optional<Checkpoint>& checkpoint, const std::string& checkpoint_problem);

}  // namespace pelorin
