#include "tests/server/load_checks.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include "server/unit_checksums.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server::test {
namespace {

using json = nlohmann::json;

std::string ms(double t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", t);
    return buf;
}

// A stretch of time in which a lease was certainly live.
struct Live {
    std::string lease;
    double from = 0;
    double to = 0;
    std::string text() const { return lease + " live " + ms(from) + ".." + ms(to); }
};

void check_units(const LoadCheckInput& in, std::vector<std::string>& out) {
    std::map<std::uint64_t, const ExportedUnit*> by_begin;
    for (const ExportedUnit& u : in.exported) {
        const std::uint64_t begin = std::stoull(u.begin);
        if (!by_begin.emplace(begin, &u).second) out.push_back("unit " + u.begin + " was validated twice");
    }
    for (std::uint64_t b = in.begin; b < in.end; b += in.unit_size) {
        const std::uint64_t e = std::min(b + in.unit_size, in.end);
        const auto it = by_begin.find(b);
        if (it == by_begin.end()) {
            out.push_back("unit [" + std::to_string(b) + ", " + std::to_string(e) + ") was never validated");
            continue;
        }
        const ExportedUnit& u = *it->second;
        if (u.end != std::to_string(e)) out.push_back("unit " + u.begin + " ends at " + u.end + ", not " + std::to_string(e));
        // The record that stands must be the truth of its starts (a plain recount, not the engine).
        const ChecksumPair truth = unit_checksums(UnitRange{parse_u128(u.begin), parse_u128(std::to_string(e)), false});
        const json r = json::parse(u.result, nullptr, false);
        if (r.is_discarded() || r.value("checksum_sum", std::uint64_t{0}) != truth.sum ||
            r.value("checksum_xor", std::uint64_t{0}) != truth.xor_ || r.value("checked", "") != std::to_string(e - b))
            out.push_back("unit " + u.begin + " stands validated with a record its starts do not give: " + u.result);
        by_begin.erase(it);
    }
    for (const auto& [begin, u] : by_begin) out.push_back("unit " + u->begin + " is outside the campaign");
}

// The certain live stretches of every lease, by unit.
std::map<std::string, std::vector<Live>> live_stretches(const LoadCheckInput& in) {
    std::map<std::string, std::string> unit_of;                // lease -> unit begin
    std::map<std::string, std::vector<double>> complete_sent;  // lease -> every complete sent
    for (const LoadRecord& r : in.records) {
        if (r.lease_id.empty()) continue;
        if (r.call == "acquire" && r.status == 200) unit_of[r.lease_id] = r.begin;
        if (r.call == "complete") complete_sent[r.lease_id].push_back(r.sent_ms);
    }
    std::map<std::string, std::vector<Live>> out;
    for (const LoadRecord& r : in.records) {
        const bool prolonged = r.status == 200 && (r.call == "acquire" || r.call == "heartbeat");
        if (!prolonged || !unit_of.count(r.lease_id)) continue;
        Live live{r.lease_id, r.done_ms, r.sent_ms + in.lease_timeout_ms};
        for (double c : complete_sent[r.lease_id])
            if (c >= r.sent_ms) live.to = std::min(live.to, c);
        if (live.from < live.to) out[unit_of[r.lease_id]].push_back(live);
    }
    return out;
}

void check_leases(const LoadCheckInput& in, std::vector<std::string>& out) {
    const auto stretches = live_stretches(in);
    for (const auto& [unit, lives] : stretches)
        for (std::size_t i = 0; i < lives.size(); ++i)
            for (std::size_t j = i + 1; j < lives.size(); ++j)
                if (lives[i].lease != lives[j].lease && std::max(lives[i].from, lives[j].from) < std::min(lives[i].to, lives[j].to))
                    out.push_back("unit " + unit + " had two live leases at once: " + lives[i].text() + ", " + lives[j].text());

    // A result recorded while another lease of its unit was certainly live came under a stale
    // lease. Its first attempt counts: a later one may be the same complete sent again.
    std::map<std::string, double> first_complete;
    for (const LoadRecord& r : in.records)
        if (r.call == "complete" && (!first_complete.count(r.lease_id) || r.sent_ms < first_complete[r.lease_id]))
            first_complete[r.lease_id] = r.sent_ms;
    for (const LoadRecord& r : in.records) {
        if (r.call != "complete" || r.status != 200) continue;
        const auto lives = stretches.find(r.begin);
        if (lives == stretches.end()) continue;
        for (const Live& other : lives->second)
            if (other.lease != r.lease_id && other.from <= first_complete[r.lease_id] && r.done_ms <= other.to)
                out.push_back("the complete of " + r.lease_id + " on unit " + r.begin + " (sent " +
                              ms(first_complete[r.lease_id]) + ", answered " + ms(r.done_ms) + ": " + r.reply +
                              ") was taken while " + other.text());
    }
}

void check_completes(const LoadCheckInput& in, std::vector<std::string>& out) {
    std::map<std::string, std::string> answer;  // lease -> the first reply of a complete
    for (const LoadRecord& r : in.records) {
        if (r.call != "complete" || r.status != 200) continue;
        const json reply = json::parse(r.reply, nullptr, false);
        const std::string audit = reply.is_discarded() ? "" : reply.value("audit", "");
        if (r.wrong && audit == "accepted")
            out.push_back("the wrong record of " + r.lease_id + " on unit " + r.begin + " was accepted: " + r.reply);
        const auto [it, first] = answer.emplace(r.lease_id, r.reply);
        if (!first && it->second != r.reply)
            out.push_back("completes of " + r.lease_id + " were answered differently: " + it->second + " then " + r.reply +
                          (r.repeat ? " (the duplicate)" : ""));
    }
}

void check_unavailable(const LoadCheckInput& in, std::vector<std::string>& out) {
    for (const LoadRecord& r : in.records)
        if (r.status == 503 && !r.retry_after)
            out.push_back("a 503 to the " + r.call + " of " + (r.lease_id.empty() ? "a worker" : r.lease_id) +
                          " named no Retry-After: " + r.reply);
}

void check_prefix(const LoadCheckInput& in, std::vector<std::string>& out) {
    std::uint64_t last = 0;
    for (const std::string& sample : in.validated_below) {
        const std::uint64_t v = std::stoull(sample);
        if (v < last) out.push_back("the validated prefix moved back from " + std::to_string(last) + " to " + sample);
        last = std::max(last, v);
    }
    if (in.validated_below.empty() || in.validated_below.back() != std::to_string(in.end))
        out.push_back("the validated prefix ends at " + (in.validated_below.empty() ? "nothing" : in.validated_below.back()) +
                      ", not at the campaign's end " + std::to_string(in.end));
}

}  // namespace

std::vector<std::string> check_load_run(const LoadCheckInput& input) {
    std::vector<std::string> out;
    check_units(input, out);
    check_leases(input, out);
    check_completes(input, out);
    check_unavailable(input, out);
    check_prefix(input, out);
    return out;
}

ExportedUnit exported_unit_of(const std::string& line) {
    const json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.contains("result")) throw std::runtime_error("not an export line: " + line);
    return ExportedUnit{j.at("begin").get<std::string>(), j.at("end").get<std::string>(),
                        j.at("worker_id").get<std::string>(), j.at("result").dump()};
}

LoadRecord load_record_of(const std::string& line) {
    const json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.contains("call")) throw std::runtime_error("not a record line: " + line);
    LoadRecord r;
    r.call = j.at("call").get<std::string>();
    r.status = j.at("status").get<long>();
    r.sent_ms = j.at("sent_ms").get<double>();
    r.done_ms = j.at("done_ms").get<double>();
    r.lease_id = j.at("lease_id").get<std::string>();
    r.begin = j.at("begin").get<std::string>();
    r.repeat = j.at("repeat").get<bool>();
    r.wrong = j.at("wrong").get<bool>();
    r.retry_after = !j.at("retry_after").is_null();
    r.reply = j.at("reply").get<std::string>();
    return r;
}

}  // namespace pelorin::server::test
