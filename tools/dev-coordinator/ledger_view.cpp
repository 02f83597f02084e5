#include "tools/dev-coordinator/ledger_view.hpp"

#include <nlohmann/json.hpp>

#include <sstream>

#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;
using server::ResultStatus;
using server::UnitState;

constexpr const char* kFormat = "pelorin-dev-ledger-v1";

std::string begin_text(const UnitRange& r) { return u128_to_decimal(r.begin); }
std::string end_text(const UnitRange& r) { return end_to_decimal(r.end, r.end_is_2_128); }

// The ledger's words for a unit's state.
const char* state_text(UnitState state) {
    switch (state) {
        case UnitState::open: return "open";
        case UnitState::leased: return "leased";
        case UnitState::pending: return "pending";
        case UnitState::validated: return "accepted";
        case UnitState::set_aside: return "set-aside";
    }
    return "open";
}

std::string verdict_text(const server::ResultView& r) {
    switch (r.status) {
        case ResultStatus::validated: return "accepted";
        case ResultStatus::pending: return "pending";
        case ResultStatus::rejected: return "rejected: " + r.reason;
        case ResultStatus::invalidated: return "invalidated: " + r.reason;
    }
    return "pending";
}

const server::CampaignView* dev_campaign(const server::StoreSnapshot& snapshot) {
    return snapshot.campaigns.empty() ? nullptr : &snapshot.campaigns.front();
}

}  // namespace

std::string ledger_json(const server::StoreSnapshot& snapshot) {
    ojson units = ojson::array();
    ojson campaign = ojson::object();
    std::string next_begin = "0";
    bool exhausted = true;
    if (const server::CampaignView* c = dev_campaign(snapshot)) {
        campaign = {{"begin", begin_text(c->range)}, {"end", end_text(c->range)}, {"unit_size", c->unit_size}};
        next_begin = u128_to_decimal(c->next_begin);
        exhausted = c->exhausted;
        for (const server::UnitView& u : c->units) {
            ojson leases = ojson::array();
            for (const server::LeaseView& l : u.leases)
                leases.push_back({{"lease_id", l.lease_id},
                                  {"worker_id", l.worker_id},
                                  {"state", l.state},
                                  {"proof_hash", l.proof_hash},
                                  {"starts_per_second", l.starts_per_second},
                                  {"progress", l.progress},
                                  {"leased_ms", l.leased_ms},
                                  {"heartbeat_ms", l.heartbeat_ms}});
            ojson submissions = ojson::array();
            for (const server::ResultView& r : u.results)
                submissions.push_back({{"lease_id", r.lease_id},
                                       {"worker_id", r.worker_id},
                                       {"verdict", verdict_text(r)},
                                       {"audit", r.audit},
                                       {"received_ms", r.received_ms},
                                       {"received", r.body}});
            units.push_back({{"index", u.index},
                             {"begin", begin_text(u.range)},
                             {"end", end_text(u.range)},
                             {"state", state_text(u.state)},
                             {"leases", std::move(leases)},
                             {"submissions", std::move(submissions)}});
        }
    }
    const ojson doc = {{"format", kFormat},
                       {"campaign", std::move(campaign)},
                       {"next_begin", next_begin},
                       {"exhausted", exhausted},
                       {"next_lease_number", snapshot.next_lease_number},
                       {"units", std::move(units)}};
    return doc.dump(1, ' ', false, ojson::error_handler_t::replace) + "\n";
}

std::string ledger_summary(const server::StoreSnapshot& snapshot) {
    const server::CampaignView* c = dev_campaign(snapshot);
    if (c == nullptr) return "No campaign\n";
    std::ostringstream out;
    out << "Campaign [" << begin_text(c->range) << ", " << end_text(c->range) << ") in units of " << c->unit_size
        << " starts\n";
    std::size_t counts[5] = {0, 0, 0, 0, 0};
    std::size_t received = 0;
    std::size_t results_by_status[4] = {0, 0, 0, 0};
    BigUint accepted_starts;
    for (const server::UnitView& u : c->units) {
        ++counts[static_cast<int>(u.state)];
        received += u.results.size();
        out << "unit " << u.index << "  [" << begin_text(u.range) << ", " << end_text(u.range) << ")  ";
        const server::LeaseView* last = u.leases.empty() ? nullptr : &u.leases.back();
        out << "worker " << (last ? last->worker_id : std::string("-")) << "  ";
        const std::string verdict = u.results.empty() ? std::string() : verdict_text(u.results.back());
        switch (u.state) {
            case UnitState::validated:
                out << "accepted";
                accepted_starts.add_u64(unit_size(u.range));
                break;
            case UnitState::leased:
                out << "leased (" << last->lease_id << ", progress " << last->progress << ")";
                break;
            case UnitState::pending:
                out << "pending (waiting for a copy from another worker)";
                break;
            case UnitState::open:
                out << "open";
                if (!verdict.empty()) out << " (last result " << verdict << ")";
                else if (last && last->state == "expired") out << " (" << last->lease_id << " expired)";
                break;
            case UnitState::set_aside:
                out << "set aside after " << u.results.size() << " rejected results (last " << verdict << ")";
                break;
        }
        out << '\n';
        for (const server::ResultView& r : u.results) ++results_by_status[static_cast<int>(r.status)];
    }
    const auto units = [&](UnitState s) { return counts[static_cast<int>(s)]; };
    const auto results = [&](ResultStatus s) { return results_by_status[static_cast<int>(s)]; };
    out << "Units: " << c->units.size() << " made, " << units(UnitState::validated) << " accepted, "
        << units(UnitState::leased) << " leased, " << units(UnitState::open) << " open, " << units(UnitState::set_aside)
        << " set aside";
    if (units(UnitState::pending) > 0) out << ", " << units(UnitState::pending) << " pending";
    out << "\nResults: " << received << " received, " << results(ResultStatus::validated) << " accepted, "
        << results(ResultStatus::rejected) << " rejected";
    if (results(ResultStatus::pending) > 0) out << ", " << results(ResultStatus::pending) << " pending";
    if (results(ResultStatus::invalidated) > 0) out << ", " << results(ResultStatus::invalidated) << " invalidated";
    out << '\n';
    out << "Starts accepted: " << biguint_to_decimal(accepted_starts) << '\n';
    if (c->exhausted) out << "Every start of the campaign is in a unit\n";
    else out << "Next unit begins at " << u128_to_decimal(c->next_begin) << '\n';
    return out.str();
}

}  // namespace pelorin::devcoord
