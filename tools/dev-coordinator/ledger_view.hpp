#pragma once
// The development coordinator's view of its campaign, built from the store: the ledger as
// JSON (served at /dev/ledger; tests read it) and the summary that --summary prints. The
// first campaign of the store is the development campaign.
#include <string>

#include "server/store/store_types.hpp"

namespace pelorin::devcoord {

// {"format":"pelorin-dev-ledger-v1","campaign":{begin,end,unit_size},"next_begin",
//  "exhausted","next_lease_number","units":[{index,begin,end,state,leases:[...],
//  submissions:[...]}]}; a unit's state is "open", "leased", "pending", "accepted" (validated)
// or "set-aside"; a submission's verdict is its standing ("accepted", "pending",
// "rejected: <reason>", "invalidated: <reason>") and its audit the reply it got.
std::string ledger_json(const server::StoreSnapshot& snapshot);

// One line per unit with its state and verdict, then totals.
std::string ledger_summary(const server::StoreSnapshot& snapshot);

}  // namespace pelorin::devcoord
