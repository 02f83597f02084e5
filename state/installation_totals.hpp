#pragma once
// totals.json in the data folder: what this installation has done since it began counting,
// the units the coordinator accepted and the starts they held. Updated after each accepted
// unit through the same durable replace as the checkpoint. A lost or unusable file starts
// again from zero; it never stops a run.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wideint/biguint.hpp"

namespace pelorin {

struct InstallationTotals {
    std::uint64_t units_accepted = 0;
    BigUint starts_verified;
    std::string since;  // the UTC day counting began, "2026-12-10"
};

// Totals that begin on the day `since` ("2026-12-10").
InstallationTotals fresh_totals(std::string since);

// The file's one line, ending in a line feed.
std::string totals_text(const InstallationTotals& totals);

struct TotalsLoad {
    std::optional<InstallationTotals> totals;
    std::string unusable;  // why the file cannot be used; both empty when there is none
};
// Reads only: creates no folder.
TotalsLoad load_totals();
// The same on a file's bytes already read.
TotalsLoad totals_from_text(std::string_view text);

// Throws std::runtime_error "Could not write this computer's totals" or "Could not commit this
// computer's totals"; the previous file is then unchanged.
void save_totals(const InstallationTotals& totals);

}  // namespace pelorin
