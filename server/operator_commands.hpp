#pragma once
// The operator's commands on a store, each printing what it did or found to `out`. Bad
// input (an unknown campaign or worker, a malformed number or time) is std::invalid_argument
// with the system's message.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "server/store/store.hpp"

namespace pelorin::server {

struct CampaignArgs {
    std::string name;  // empty: campaign-<n>, the first such name not taken
    std::string begin;
    std::string end;
    std::string unit_size;
};

// A campaign from integer texts as the worker reads them (decimal, 0x hex, 2^k; the end may
// be 2^128). Throws std::invalid_argument "range end is below begin", "unit size must be at
// least 1", std::overflow_error "unit size exceeds 64 bits", or the texts' own errors.
CampaignDefinition campaign_definition(const std::string& name, const std::string& begin, const std::string& end,
                           const std::string& unit_size);

void campaign_add(Store& store, const CampaignArgs& args, std::ostream& out);
void campaign_pause(Store& store, const std::string& name, bool paused, std::ostream& out);
// The campaign's set-aside units handed out again (Store::reopen_set_aside).
void campaign_reopen(Store& store, const std::string& name, unsigned set_aside_after, std::ostream& out);
void print_status(Store& store, bool json, std::ostream& out);
void print_workers(Store& store, bool json, std::ostream& out);
void ban_worker(Store& store, const std::string& worker_id, bool banned, std::ostream& out);
// since: a UTC time (utc_time.hpp), empty for every result of the worker.
void invalidate_worker(Store& store, const std::string& worker_id, const std::string& since, unsigned set_aside_after,
                       std::ostream& out);
void export_units(Store& store, bool json, std::ostream& out);
void backup_database(Store& store, const std::filesystem::path& file, std::ostream& out);

}  // namespace pelorin::server
