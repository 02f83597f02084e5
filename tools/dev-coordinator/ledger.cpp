#include "tools/dev-coordinator/ledger.hpp"

#include <nlohmann/json.hpp>

#include <sstream>
#include <stdexcept>

#include "wideint/biguint.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;

constexpr const char* kFormat = "pelorin-dev-ledger-v1";

std::string begin_text(const UnitRange& r) { return u128_to_decimal(r.begin); }
std::string end_text(const UnitRange& r) { return end_to_decimal(r.end, r.end_is_2_128); }

bool ends_at(const UnitRange& campaign, U128 end, bool end_is_2_128) {
    return campaign.end_is_2_128 ? end_is_2_128 : (!end_is_2_128 && end == campaign.end);
}

UnitState unit_state_from(const std::string& text) {
    for (UnitState s : {UnitState::open, UnitState::leased, UnitState::accepted, UnitState::set_aside})
        if (text == unit_state_text(s)) return s;
    throw std::runtime_error("unknown unit state " + text);
}

LeaseState lease_state_from(const std::string& text) {
    for (LeaseState s : {LeaseState::active, LeaseState::expired, LeaseState::completed})
        if (text == lease_state_text(s)) return s;
    throw std::runtime_error("unknown lease state " + text);
}

UnitRange range_from(const ojson& j) {
    UnitRange r;
    r.begin = parse_u128(j.at("begin").get<std::string>());
    const EndBound end = parse_end_bound(j.at("end").get<std::string>());
    r.end = end.value;
    r.end_is_2_128 = end.end_is_2_128;
    return r;
}

}  // namespace

Ledger new_ledger(const UnitRange& campaign, std::uint64_t unit_size) {
    if (!campaign.end_is_2_128 && campaign.end < campaign.begin)
        throw std::invalid_argument("range end is below begin");
    if (unit_size == 0) throw std::invalid_argument("unit size must be at least 1");
    Ledger ledger;
    ledger.campaign = campaign;
    ledger.unit_size = unit_size;
    ledger.next_begin = campaign.begin;
    ledger.exhausted = !campaign.end_is_2_128 && campaign.end == campaign.begin;
    return ledger;
}

bool carve_unit(Ledger& ledger, UnitRange& unit) {
    if (ledger.exhausted) return false;
    unit.begin = ledger.next_begin;
    bool overflow = false;
    const U128 sum = add_u64(unit.begin, ledger.unit_size, &overflow);
    if (overflow) {
        // The unit would reach 2^128 or beyond: it ends with the campaign.
        unit.end = ledger.campaign.end;
        unit.end_is_2_128 = ledger.campaign.end_is_2_128;
    } else if (!ledger.campaign.end_is_2_128 && !(sum < ledger.campaign.end)) {
        unit.end = ledger.campaign.end;
        unit.end_is_2_128 = false;
    } else {
        unit.end = sum;
        unit.end_is_2_128 = false;
    }
    ledger.exhausted = ends_at(ledger.campaign, unit.end, unit.end_is_2_128);
    if (!ledger.exhausted) ledger.next_begin = unit.end;
    return true;
}

const char* unit_state_text(UnitState state) {
    switch (state) {
        case UnitState::open: return "open";
        case UnitState::leased: return "leased";
        case UnitState::accepted: return "accepted";
        case UnitState::set_aside: return "set-aside";
    }
    return "open";
}

const char* lease_state_text(LeaseState state) {
    switch (state) {
        case LeaseState::active: return "active";
        case LeaseState::expired: return "expired";
        case LeaseState::completed: return "completed";
    }
    return "active";
}

std::string ledger_to_json(const Ledger& ledger) {
    ojson units = ojson::array();
    for (const UnitEntry& u : ledger.units) {
        ojson leases = ojson::array();
        for (const LeaseRecord& l : u.leases)
            leases.push_back({{"lease_id", l.lease_id},
                              {"worker_id", l.worker_id},
                              {"state", lease_state_text(l.state)},
                              {"proof_hash", l.proof_hash},
                              {"starts_per_second", l.starts_per_second},
                              {"progress", l.progress},
                              {"leased_ms", l.leased_ms},
                              {"heartbeat_ms", l.heartbeat_ms}});
        ojson submissions = ojson::array();
        for (const Submission& s : u.submissions)
            submissions.push_back({{"lease_id", s.lease_id},
                                   {"worker_id", s.worker_id},
                                   {"verdict", s.verdict},
                                   {"received_ms", s.received_ms},
                                   {"received", s.received}});
        units.push_back({{"index", u.index},
                         {"begin", begin_text(u.range)},
                         {"end", end_text(u.range)},
                         {"state", unit_state_text(u.state)},
                         {"leases", std::move(leases)},
                         {"submissions", std::move(submissions)}});
    }
    const ojson doc = {{"format", kFormat},
                       {"campaign",
                        {{"begin", begin_text(ledger.campaign)},
                         {"end", end_text(ledger.campaign)},
                         {"unit_size", ledger.unit_size}}},
                       {"next_begin", u128_to_decimal(ledger.next_begin)},
                       {"exhausted", ledger.exhausted},
                       {"next_lease_number", ledger.next_lease_number},
                       {"units", std::move(units)}};
    return doc.dump(1, ' ', false, ojson::error_handler_t::replace) + "\n";
}

Ledger ledger_from_json(const std::string& text) {
    try {
        const ojson doc = ojson::parse(text);
        if (doc.at("format").get<std::string>() != kFormat) throw std::runtime_error("unknown format");
        Ledger ledger;
        ledger.campaign = range_from(doc.at("campaign"));
        ledger.unit_size = doc.at("campaign").at("unit_size").get<std::uint64_t>();
        ledger.next_begin = parse_u128(doc.at("next_begin").get<std::string>());
        ledger.exhausted = doc.at("exhausted").get<bool>();
        ledger.next_lease_number = doc.at("next_lease_number").get<std::uint64_t>();
        for (const ojson& ju : doc.at("units")) {
            UnitEntry u;
            u.index = ju.at("index").get<std::uint64_t>();
            u.range = range_from(ju);
            u.state = unit_state_from(ju.at("state").get<std::string>());
            for (const ojson& jl : ju.at("leases")) {
                LeaseRecord l;
                l.lease_id = jl.at("lease_id").get<std::string>();
                l.worker_id = jl.at("worker_id").get<std::string>();
                l.state = lease_state_from(jl.at("state").get<std::string>());
                l.proof_hash = jl.at("proof_hash").get<std::string>();
                l.starts_per_second = jl.at("starts_per_second").get<double>();
                l.progress = jl.at("progress").get<std::string>();
                l.leased_ms = jl.at("leased_ms").get<std::int64_t>();
                l.heartbeat_ms = jl.at("heartbeat_ms").get<std::int64_t>();
                u.leases.push_back(std::move(l));
            }
            for (const ojson& js : ju.at("submissions")) {
                Submission s;
                s.lease_id = js.at("lease_id").get<std::string>();
                s.worker_id = js.at("worker_id").get<std::string>();
                s.verdict = js.at("verdict").get<std::string>();
                s.received_ms = js.at("received_ms").get<std::int64_t>();
                s.received = js.at("received").get<std::string>();
                u.submissions.push_back(std::move(s));
            }
            ledger.units.push_back(std::move(u));
        }
        return ledger;
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("ledger file is damaged: ") + e.what());
    }
}

std::string ledger_summary(const Ledger& ledger) {
    std::ostringstream out;
    out << "Campaign [" << begin_text(ledger.campaign) << ", " << end_text(ledger.campaign) << ") in units of "
        << ledger.unit_size << " starts\n";
    std::size_t counts[4] = {0, 0, 0, 0};
    std::size_t received = 0;
    std::size_t accepted_results = 0;
    BigUint accepted_starts;
    for (const UnitEntry& u : ledger.units) {
        ++counts[static_cast<int>(u.state)];
        received += u.submissions.size();
        out << "unit " << u.index << "  [" << begin_text(u.range) << ", " << end_text(u.range) << ")  ";
        const LeaseRecord* last = u.leases.empty() ? nullptr : &u.leases.back();
        out << "worker " << (last ? last->worker_id : std::string("-")) << "  ";
        const std::string verdict = u.submissions.empty() ? std::string() : u.submissions.back().verdict;
        switch (u.state) {
            case UnitState::accepted:
                out << "accepted";
                accepted_starts.add_u64(unit_size(u.range));
                break;
            case UnitState::leased:
                out << "leased (" << last->lease_id << ", progress " << last->progress << ")";
                break;
            case UnitState::open:
                out << "open";
                if (!verdict.empty()) out << " (last result " << verdict << ")";
                else if (last && last->state == LeaseState::expired) out << " (" << last->lease_id << " expired)";
                break;
            case UnitState::set_aside:
                out << "set aside after " << u.submissions.size() << " rejected results (last " << verdict << ")";
                break;
        }
        out << '\n';
        for (const Submission& s : u.submissions)
            if (s.verdict == "accepted") ++accepted_results;
    }
    out << "Units: " << ledger.units.size() << " handed out, " << counts[static_cast<int>(UnitState::accepted)]
        << " accepted, " << counts[static_cast<int>(UnitState::leased)] << " leased, "
        << counts[static_cast<int>(UnitState::open)] << " open, " << counts[static_cast<int>(UnitState::set_aside)]
        << " set aside\n";
    out << "Results: " << received << " received, " << accepted_results << " accepted, "
        << (received - accepted_results) << " rejected\n";
    out << "Starts accepted: " << biguint_to_decimal(accepted_starts) << '\n';
    if (ledger.exhausted) out << "Every start of the campaign has been handed out\n";
    else out << "Next unit begins at " << u128_to_decimal(ledger.next_begin) << '\n';
    return out.str();
}

}  // namespace pelorin::devcoord
