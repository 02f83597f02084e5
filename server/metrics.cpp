#include "server/metrics.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace pelorin::server {
namespace {

constexpr const char* kPrefix = "pelorin_coordinator_";

// A sample value: integers as integers, other numbers in the fewest digits that read back as
// the same double.
std::string number_text(double v) {
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    if (std::isnan(v)) return "NaN";
    char text[32];
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", v);
        return text;
    }
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) break;
    }
    return text;
}

class Writer {
public:
    void family(const char* name, const char* type, const char* help) {
        out_ << "# HELP " << kPrefix << name << ' ' << help << "\n# TYPE " << kPrefix << name << ' ' << type << '\n';
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        out_ << kPrefix << name;
        if (!labels.empty()) out_ << '{' << labels << '}';
        out_ << ' ' << number_text(value) << '\n';
    }
    void histogram(const char* name, const std::string& labels, const SecondsHistogram& h) {
        const std::string sep = labels.empty() ? "" : ",";
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < h.kBounds.size(); ++i) {
            cumulative += h.buckets[i];
            sample(std::string(name) + "_bucket", labels + sep + "le=\"" + number_text(h.kBounds[i]) + "\"",
                   static_cast<double>(cumulative));
        }
        sample(std::string(name) + "_bucket", labels + sep + "le=\"+Inf\"", static_cast<double>(h.count));
        sample(std::string(name) + "_sum", labels, h.sum);
        sample(std::string(name) + "_count", labels, static_cast<double>(h.count));
    }
    std::string text() const { return out_.str(); }

private:
    std::ostringstream out_;
};

std::string label(const char* name, const std::string& value) { return std::string(name) + "=\"" + label_value(value) + "\""; }

}  // namespace

void SecondsHistogram::observe(double seconds) {
    for (std::size_t i = 0; i < kBounds.size(); ++i)
        if (seconds <= kBounds[i]) {
            ++buckets[i];
            break;
        }
    ++count;
    sum += seconds;
}

Metrics::Metrics() {
    // Every verdict and limit is written from the start, so a rate over them is defined.
    for (const char* verdict : {"accepted", "pending", "rejected", "set_aside"}) results_[verdict] = 0;
    for (const char* limit : {"registration", "worker"}) rate_limited_[limit] = 0;
}

void Metrics::count_request(const std::string& endpoint, int status, double seconds) {
    std::lock_guard lock(mutex_);
    ++requests_[{endpoint, status}];
    request_seconds_[endpoint].observe(seconds);
}

void Metrics::count_result(const std::string& verdict) {
    std::lock_guard lock(mutex_);
    ++results_[verdict];
}

void Metrics::count_mismatch() {
    std::lock_guard lock(mutex_);
    ++mismatches_;
}

void Metrics::count_checksum_check(const std::string& outcome) {
    std::lock_guard lock(mutex_);
    ++checksum_checks_[outcome];
}

void Metrics::count_recomputed_starts(std::uint64_t starts, double core_starts_per_second) {
    std::lock_guard lock(mutex_);
    recomputed_starts_ += starts;
    recompute_rate_ = core_starts_per_second;
}

void Metrics::count_registration() {
    std::lock_guard lock(mutex_);
    ++registrations_;
}

void Metrics::count_rate_limited(const std::string& limit) {
    std::lock_guard lock(mutex_);
    ++rate_limited_[limit];
}

void Metrics::time_database(const std::string& operation, double seconds, bool failed) {
    std::lock_guard lock(mutex_);
    database_seconds_[operation].observe(seconds);
    if (failed) ++database_errors_[operation];
}

std::string Metrics::exposition(const std::optional<StatusFigures>& status,
                                const std::optional<RecomputeBacklog>& backlog) const {
    Writer w;
    {
        std::lock_guard lock(mutex_);
        w.family("http_requests_total", "counter", "Requests answered, by endpoint (the route) and HTTP status.");
        for (const auto& [key, n] : requests_)
            w.sample("http_requests_total", label("endpoint", key.first) + "," + label("status", std::to_string(key.second)),
                     static_cast<double>(n));
        w.family("http_request_duration_seconds", "histogram",
                 "Time from a request's arrival to its reply, by endpoint.");
        for (const auto& [endpoint, h] : request_seconds_)
            w.histogram("http_request_duration_seconds", label("endpoint", endpoint), h);
        w.family("results_total", "counter", "Results recorded, by the verdict they were answered with.");
        for (const auto& [verdict, n] : results_) w.sample("results_total", label("verdict", verdict), static_cast<double>(n));
        w.family("replication_mismatches_total", "counter",
                 "Results that passed the checks but agree with none of the copies of their unit before them.");
        w.sample("replication_mismatches_total", "", static_cast<double>(mismatches_));
        w.family("result_checksums_total", "counter",
                 "Results whose checksums this instance compared with their unit's starts (matched, refused), or "
                 "weighed without that while recomputation is off (unchecked).");
        std::uint64_t recomputed = 0;
        std::uint64_t all = 0;
        for (const auto& [outcome, n] : checksum_checks_) {
            w.sample("result_checksums_total", label("outcome", outcome), static_cast<double>(n));
            all += n;
            if (outcome != "unchecked") recomputed += n;
        }
        w.family("result_checksums_recomputed_share", "gauge",
                 "Share of the results this instance weighed whose checksums were recomputed (1 when none yet).");
        w.sample("result_checksums_recomputed_share", "", all == 0 ? 1.0 : static_cast<double>(recomputed) / static_cast<double>(all));
        w.family("recomputed_starts_total", "counter", "Starts whose checksums this instance recomputed in the background.");
        w.sample("recomputed_starts_total", "", static_cast<double>(recomputed_starts_));
        if (recompute_rate_ > 0) {
            w.family("recompute_core_starts_per_second", "gauge", "One core's checksum speed, as last measured.");
            w.sample("recompute_core_starts_per_second", "", recompute_rate_);
        }
        w.family("registrations_total", "counter", "Workers registered (new workers and new tokens).");
        w.sample("registrations_total", "", static_cast<double>(registrations_));
        w.family("rate_limited_requests_total", "counter", "Requests refused with 429, by the limit they met.");
        for (const auto& [limit, n] : rate_limited_)
            w.sample("rate_limited_requests_total", label("limit", limit), static_cast<double>(n));
        w.family("database_duration_seconds", "histogram", "Time spent in the database, by storage operation.");
        for (const auto& [operation, h] : database_seconds_)
            w.histogram("database_duration_seconds", label("operation", operation), h);
        w.family("database_errors_total", "counter", "Storage operations that failed, by operation.");
        for (const auto& [operation, n] : database_errors_)
            w.sample("database_errors_total", label("operation", operation), static_cast<double>(n));
    }
    w.family("database_up", "gauge", "1 when the database answered for this scrape, else 0.");
    w.sample("database_up", "", status ? 1 : 0);
    if (status) {
        w.family("units", "gauge", "Units made so far, by campaign and state (leased units are not counted as open or pending).");
        std::int64_t live = 0;
        for (const CampaignFigures& c : status->campaigns) {
            const UnitCounts& u = c.units;
            for (const auto& [state, n] : {std::pair{UnitState::open, u.open}, std::pair{UnitState::leased, u.leased},
                                           std::pair{UnitState::pending, u.pending},
                                           std::pair{UnitState::validated, u.validated},
                                           std::pair{UnitState::set_aside, u.set_aside}})
                w.sample("units", label("campaign", c.name) + "," + label("state", unit_state_name(state)),
                         static_cast<double>(n));
            live += u.leased;
        }
        w.family("live_leases", "gauge", "Leases that have not run out, over every campaign.");
        w.sample("live_leases", "", static_cast<double>(live));
    }
    if (backlog) {
        w.family("recompute_backlog_results", "gauge", "Results waiting for their unit's checksums to be recomputed.");
        w.sample("recompute_backlog_results", "", static_cast<double>(backlog->results));
        w.family("recompute_backlog_units", "gauge", "Units whose checksums are being recomputed.");
        w.sample("recompute_backlog_units", "", static_cast<double>(backlog->units));
        w.family("recompute_backlog_starts", "gauge", "Starts of those units not yet recomputed.");
        w.sample("recompute_backlog_starts", "", backlog->starts);
    }
    return w.text();
}

std::string verdict_of_audit(const std::string& audit) {
    for (const char* verdict : {"accepted", "pending", "rejected"})
        if (audit.rfind(verdict, 0) == 0) return verdict;
    return audit.rfind("set aside", 0) == 0 ? "set_aside" : "rejected";
}

std::string label_value(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out.push_back(c);
    }
    return out;
}

}  // namespace pelorin::server
