#include "worker/worker_run.hpp"

#include <chrono>
#include <exception>
#include <random>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/module_path.hpp"
#include "coordinator/registration.hpp"
#include "sha256/sha256.hpp"
#include "gpu/cuda_backend.hpp"
#include "gpu/run_backend.hpp"
#include "state/checkpoint.hpp"
#include "state/installation_totals.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"
#include "worker/hardware_text.hpp"
#include "worker/status_text.hpp"
#include "worker/token_text.hpp"

namespace pelorin {
namespace {

// Where the checkpointed unit stands, for the closing line of a stop that came outside the
// lease cycle (during start-up, an exchange or a wait).
std::optional<UnitPosition> checkpointed_unit() {
    try {
        const auto cp = load_stored_checkpoint().checkpoint;
        if (!cp) return std::nullopt;  // an unusable one is reported by the run that leases its unit
        const EndBound end = parse_end_bound(cp->end);
        const UnitRange range{parse_u128(cp->begin), end.value, end.end_is_2_128};
        return UnitPosition{u128_to_decimal(range.begin), end_to_decimal(range.end, range.end_is_2_128), cp->offset,
                            unit_size(range)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// This installation's totals to count on from. A file that is lost or cannot be read costs
// its counts, never the run; a worker that has not registered yet has nothing to lose. Fresh
// totals are kept at once: counting begins on the day of the first run (the one that
// registers), not of the first accepted unit, and a lost file is said to be lost once.
InstallationTotals totals_for_run(FrontEnd& fe, bool registered) {
    TotalsLoad stored = load_totals();
    if (stored.totals) return std::move(*stored.totals);
    if (!stored.unusable.empty()) fe.post_status(totals_unusable_text(stored.unusable));
    else if (registered) fe.post_status(totals_missing_text());
    InstallationTotals fresh = fresh_totals(utc_time_text(std::chrono::system_clock::now(), "%Y-%m-%d"));
    try {
        save_totals(fresh);
    } catch (const std::exception& e) {
        fe.post_status(totals_unsaved_text(e.what()));
    }
    return fresh;
}

}  // namespace

RunStart start_run(std::stop_token stop, FrontEnd& fe) {
    RunStart s;
    s.build_hash = sha256_file_hex(module_path());
    s.hardware_hash = sha256_hex(hardware_text());
    s.identity = load_identity();

    SelectionHooks hooks;
    hooks.cuda_available = [] { return cuda_available(); };
    hooks.run_backend = run_backend;
    hooks.post_status = [&fe](const std::string& text) { fe.post_status(text); };
    s.choice = select_backend(stop, hooks);
    fe.post_status(optimization_complete_text(s.choice.options.name, s.choice.starts_per_second));
    return s;
}

void serve_coordinator(std::stop_token stop, FrontEnd& fe, RunStart& s, CycleState& cycle,
                       const LeaseCycleTiming& timing, bool again) {
    check_secure_connection();
    // Nothing registers again after a fault unless the token was refused.
    fe.post_status(again && !s.identity.token.empty() ? kReconnectedText : kConnectedText);
    if (s.identity.token.empty()) {
        s.identity = register_worker(s.identity, s.build_hash, s.hardware_hash,
                                     [&fe](const std::string& text) { fe.post_status(text); }, stop);
    }
    report_benchmark(s.identity.token, s.build_hash, s.choice.options.name, s.choice.starts_per_second);
    run_lease_cycle(stop, fe, s.identity.token, s.choice, cycle, timing);
}

void worker_run(std::stop_token stop, FrontEnd& fe, const LeaseCycleTiming& timing) {
    RunStart start;
    try {
        start = start_run(stop, fe);
        CycleState cycle;
        cycle.totals = totals_for_run(fe, !start.identity.token.empty());
        serve_coordinator(stop, fe, start, cycle, timing);
    } catch (const std::exception& e) {
        fe.post_status(stopped_text(without_tokens(e.what(), {start.identity.token})));
        fe.running = false;
    }
}

RunEnd worker_run_with_retry(std::stop_token stop, FrontEnd& fe, const LeaseCycleTiming& timing,
                             const RetryTiming& retry) {
    RunStart start;
    std::string refused_token;
    const auto shown = [&](const std::string& text) {
        return without_tokens(text, {start.identity.token, refused_token});
    };
    const auto failed = [&](const std::exception& e) {
        // A stop during start-up or registration ends those with an error too: it is a stop.
        if (stop.stop_requested()) {
            fe.run_stopped(checkpointed_unit());
            return RunEnd::stopped;
        }
        std::string message = e.what();
        if (const std::string advice = what_to_do(e); !advice.empty()) message += "\r\n" + advice;
        fe.post_status(stopped_text(shown(message)));
        fe.running = false;
        return RunEnd::failed;
    };
    try {
        start = start_run(stop, fe);
    } catch (const std::exception& e) {
        return failed(e);
    }
    Backoff backoff(retry, std::random_device{}());
    CycleState cycle;
    cycle.totals = totals_for_run(fe, !start.identity.token.empty());
    std::uint64_t units_at_last_fault = 0;
    bool registered_again = false;
    for (bool again = false;; again = true) {
        try {
            serve_coordinator(stop, fe, start, cycle, timing, again);
            return stop.stop_requested() ? RunEnd::stopped : RunEnd::complete;
        } catch (const std::exception& e) {
            if (stop.stop_requested()) return failed(e);
            const std::uint64_t units_completed = cycle.units_completed;
            if (units_completed != units_at_last_fault) {
                // Work went through since the last fault: start the waits and the one
                // registration anew.
                backoff.reset();
                registered_again = false;
            }
            units_at_last_fault = units_completed;
            if (token_refused(e) && !start.identity.token.empty() && !registered_again) {
                // A registration whose reply came too late is processed after its retry, and
                // the later token replaces the one stored: registering again (same client id,
                // same worker) mends it. Once; a second refusal stops the run.
                registered_again = true;
                fe.post_status(token_refused_text(shown(e.what())));
                refused_token = std::move(start.identity.token);
                start.identity.token.clear();
                continue;
            }
            if (!waiting_can_help(e)) return failed(e);
            const auto wait = backoff.next(requested_delay(e));
            fe.post_status(retry_text(shown(e.what()), wait, std::chrono::system_clock::now() + wait));
            if (!sleep_unless_stopped(stop, wait)) {
                fe.run_stopped(checkpointed_unit());
                return RunEnd::stopped;
            }
        }
    }
}

}  // namespace pelorin
