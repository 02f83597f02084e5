#include "server/operator_commands.hpp"

#include <set>
#include <stdexcept>

#include "server/reports.hpp"
#include "server/store/wide_math.hpp"
#include "server/utc_time.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {

CampaignDefinition campaign_definition(const std::string& name, const std::string& begin, const std::string& end,
                           const std::string& unit_size) {
    CampaignDefinition definition;
    definition.name = name;
    definition.range.begin = parse_u128(begin);
    const EndBound bound = parse_end_bound(end);
    definition.range.end = bound.value;
    definition.range.end_is_2_128 = bound.end_is_2_128;
    const U128 unit = parse_u128(unit_size);
    if (unit.hi != 0) throw std::overflow_error("unit size exceeds 64 bits");
    definition.unit_size = unit.lo;
    if (!definition.range.end_is_2_128 && definition.range.end < definition.range.begin)
        throw std::invalid_argument("range end is below begin");
    if (definition.unit_size == 0) throw std::invalid_argument("unit size must be at least 1");
    return definition;
}

void campaign_add(Store& store, const CampaignArgs& args, std::ostream& out) {
    CampaignDefinition definition = campaign_definition(args.name, args.begin, args.end, args.unit_size);
    if (definition.name.empty()) {
        std::set<std::string> taken;
        for (const CampaignDefinition& c : store.campaigns()) taken.insert(c.name);
        for (int n = 1; definition.name.empty(); ++n)
            if (!taken.count("campaign-" + std::to_string(n))) definition.name = "campaign-" + std::to_string(n);
    }
    store.add_campaign(definition);
    out << "Added campaign " << definition.name << ": [" << u128_to_decimal(definition.range.begin) << ", "
        << end_to_decimal(definition.range.end, definition.range.end_is_2_128) << ") in units of " << definition.unit_size << " starts, "
        << units_in(definition.range, definition.unit_size) << " units\n";
}

void campaign_pause(Store& store, const std::string& name, bool paused, std::ostream& out) {
    store.set_campaign_paused(name, paused);
    out << "Campaign " << name << (paused ? " is paused: no new unit is handed out\n" : " is running again\n");
}

void campaign_reopen(Store& store, const std::string& name, unsigned set_aside_after, std::ostream& out) {
    const ReopenOutcome outcome = store.reopen_set_aside(name, set_aside_after);
    out << "Reopened " << outcome.units << " set-aside units of campaign " << name
        << ": they are handed out again, and their earlier refusals no longer count toward setting them aside\n";
}

void print_status(Store& store, bool json, std::ostream& out) {
    const StatusFigures status = store.status();
    out << (json ? status_json(status) : status_text(status));
}

void print_workers(Store& store, bool json, std::ostream& out) {
    const auto workers = store.workers();
    out << (json ? workers_json(workers) : workers_text(workers));
}

void ban_worker(Store& store, const std::string& worker_id, bool banned, std::ostream& out) {
    if (!store.set_worker_banned(worker_id, banned)) throw std::invalid_argument("no worker " + worker_id);
    out << "Worker " << worker_id
        << (banned ? " is banned: it gets 403, and its units in progress went back to the pool\n" : " is no longer banned\n");
}

void invalidate_worker(Store& store, const std::string& worker_id, const std::string& since, unsigned set_aside_after,
                       std::ostream& out) {
    std::optional<std::int64_t> since_ms;
    if (!since.empty()) since_ms = parse_utc(since);
    const auto outcome = store.invalidate_worker(worker_id, since_ms, set_aside_after);
    if (!outcome) throw std::invalid_argument("no worker " + worker_id);
    out << "Set aside " << outcome->results << " results of " << worker_id
        << (since.empty() ? "" : " received since " + since) << "; " << outcome->units
        << " units changed their standing and are handed out again where no other result stands\n";
}

void export_units(Store& store, bool json, std::ostream& out) {
    store.export_validated([&](const ExportRow& row) { out << export_line(row, json); });
    out.flush();
}

void backup_database(Store& store, const std::filesystem::path& file, std::ostream& out) {
    store.backup_to(file);
    out << "Wrote a copy of the database to " << file.string() << "\n";
}

}  // namespace pelorin::server
