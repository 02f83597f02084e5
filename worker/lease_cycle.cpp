#include "worker/lease_cycle.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/https_transport.hpp"
#include "gpu/run_backend.hpp"
#include "state/checkpoint.hpp"
#include "state/installation_totals.hpp"
#include "wideint/decimal.hpp"
#include "wideint/unit_range.hpp"
#include "wideint/text_forms.hpp"
#include "worker/machine_watch.hpp"
#include "worker/status_text.hpp"
#include "worker/token_text.hpp"

namespace pelorin {
namespace {

using Clock = std::chrono::steady_clock;

// Chunks take about three quarters of a second, so checkpoints, status and the stop request
// are served at that cadence whatever the backend's speed.
constexpr double kChunkShareOfRate = 0.75;
constexpr std::uint64_t kSmallestChunk = std::uint64_t{1} << 20;
constexpr std::uint64_t kLargestChunk = std::uint64_t{1} << 34;

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count()) / 1e9;
}

// The lease in hand, kept alive: a heartbeat whenever one is due, while working and while
// paused. Heartbeat and complete name the lease: a 404 or 409 there means the coordinator no
// longer holds it for this worker, a fault that leasing again mends, and the lease is let go.
class LeaseKeeper {
public:
    LeaseKeeper(const std::string& token, CycleState& state, std::chrono::nanoseconds interval)
        : token_(token), state_(state), interval_(interval) {}

    const std::optional<HeldLease>& held() const { return state_.held; }

    // A unit was leased: its first heartbeat is due one interval from now. Until then, a lease
    // held from before this cycle (a fault waited out) is due at once: how long ago it was
    // last heard of is not known here.
    void leased() { last_ = Clock::now(); }

    template <typename Exchange>
    auto on_lease(Exchange exchange) {
        try {
            return exchange();
        } catch (const HttpsError& e) {
            if (e.failure() == HttpsFailure::status && (e.status() == 404 || e.status() == 409)) {
                state_.held.reset();
                throw LeaseLost(e.what());
            }
            throw;
        }
    }

    void heartbeat_if_due() {
        if (!state_.held || (last_ && Clock::now() - *last_ < interval_)) return;
        on_lease([&] { send_heartbeat(token_, state_.held->lease_id, state_.held->unit.offset); });
        last_ = Clock::now();
    }

private:
    const std::string& token_;
    CycleState& state_;
    std::chrono::nanoseconds interval_;
    std::optional<Clock::time_point> last_;
};

// The one place a pause is waited out, wherever it begins, whatever its reason. With a lease
// in hand the pause holds it, heartbeats going on. The user's pause is told to the front end
// as before (where the unit stands; between units the paused text on every look); a pause for
// the computer's owner posts a text that says why, once as it begins. False when a stop ends
// the pause.
bool wait_while_paused(const std::stop_token& stop, FrontEnd& fe, LeaseKeeper& keeper, MachineWatch& watch,
                       std::chrono::nanoseconds poll) {
    PauseReason reason = watch.reason(fe.paused.load());
    if (reason == PauseReason::none) return true;
    const bool holding = keeper.held().has_value();
    PauseReason shown = PauseReason::none;
    while (reason != PauseReason::none) {
        if (stop.stop_requested()) return false;
        if (reason != shown) {
            const auto& unit = keeper.held();
            if (reason == PauseReason::user) {
                if (unit) fe.unit_paused(unit->unit);
            } else {
                fe.post_status(machine_paused_text(reason == PauseReason::on_battery,
                                                   fe.pause_controls.load().in_use_limit,
                                                   unit ? unit_percent_text(unit->unit.offset, unit->unit.count) : ""));
            }
            shown = reason;
        }
        if (keeper.held()) keeper.heartbeat_if_due();
        else if (reason == PauseReason::user) fe.post_status(kPausedText);
        sleep_unless_stopped(stop, poll);
        reason = watch.reason(fe.paused.load());
    }
    if (stop.stop_requested()) return false;
    if (holding && keeper.held()) fe.unit_resumed(keeper.held()->unit);
    return true;
}

// An accepted unit counted in this installation's totals, saved at once. A totals file that
// cannot be written costs a line, never the run: the totals stay in memory for the next save.
void count_accepted_unit(FrontEnd& fe, CycleState& state, std::uint64_t starts, const std::string& audit) {
    ++state.units_completed;
    ++state.totals.units_accepted;
    state.totals.starts_verified.add_u64(starts);
    std::string unsaved;
    try {
        save_totals(state.totals);
    } catch (const std::exception& e) {
        unsaved = e.what();
    }
    fe.unit_accepted(audit, state.totals);
    if (!unsaved.empty()) fe.post_status(totals_unsaved_text(unsaved));
}

}  // namespace

bool sleep_unless_stopped(const std::stop_token& stop, std::chrono::nanoseconds duration) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    return !wake.wait_for(lock, stop, duration, [&] { return stop.stop_requested(); });
}

std::uint64_t chunk_size_for(double starts_per_second) {
    const double want = starts_per_second * kChunkShareOfRate;
    // Saturate before converting: a double beyond 2^64 (or NaN) has no integer value.
    if (!(want >= static_cast<double>(kSmallestChunk))) return kSmallestChunk;
    if (want >= static_cast<double>(kLargestChunk)) return kLargestChunk;
    return static_cast<std::uint64_t>(want);
}

double duty_cycle(int profile) {
    switch (profile) {
        case 0: return 0.85;
        case 1: return 1.0;
        default: return 0.5;
    }
}

std::chrono::nanoseconds duty_rest(int profile, std::chrono::nanoseconds busy) {
    const double f = duty_cycle(profile);
    if (f >= 1.0) return std::chrono::nanoseconds(0);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>((1.0 / f - 1.0) * (static_cast<double>(busy.count()) / 1e9)));
}

void run_lease_cycle(std::stop_token stop, FrontEnd& fe, const std::string& token, const BackendChoice& choice,
                     CycleState& state, const LeaseCycleTiming& timing) {
    const std::string& backend = choice.options.name;
    const auto rest = [&](std::chrono::nanoseconds duration) {
        if (timing.duty_sleep) timing.duty_sleep(stop, duration);
        else sleep_unless_stopped(stop, duration);
    };
    LeaseKeeper keeper(token, state, timing.heartbeat_interval);
    const std::shared_ptr<MachineReadings> readings =
        timing.readings ? timing.readings : std::shared_ptr<MachineReadings>(platform_machine_readings());
    MachineWatch watch(*readings, fe.pause_controls, [&fe](std::string text) { fe.post_status(std::move(text)); },
                       timing.machine_poll);
    // The unit in hand stays leased and its checkpoint stays on disk.
    const auto stopped = [&] { fe.run_stopped(state.held ? std::optional(state.held->unit) : std::nullopt); };
    for (;;) {
        if (stop.stop_requested() || !wait_while_paused(stop, fe, keeper, watch, timing.pause_poll)) {
            stopped();
            return;
        }
        const Lease lease = acquire_lease(token, choice.starts_per_second, choice.proof_hash);
        if (lease.complete) {
            state.held.reset();
            fe.post_status(kCompleteText);
            return;
        }
        UnitRange range;
        range.begin = parse_u128(lease.begin);
        const EndBound end = parse_end_bound(lease.end);
        range.end = end.value;
        range.end_is_2_128 = end.end_is_2_128;
        const std::uint64_t count = unit_size(range);
        const std::uint64_t chunk = chunk_size_for(choice.starts_per_second);

        UnitResult unit;
        unit.mode = "verify";
        unit.backend = backend;
        unit.begin = u128_to_decimal(range.begin);
        unit.end = end_to_decimal(range.end, range.end_is_2_128);
        std::uint64_t offset = 0;
        CheckpointLoad stored =
            load_checkpoint(lease.lease_id, lease.begin, lease.end, ResumeMatch{backend, choice.proof_hash});
        if (stored.checkpoint) {
            offset = stored.checkpoint->offset;
            unit = std::move(stored.checkpoint->result);
            fe.post_status(resuming_text(offset, count));
        } else if (!stored.unusable.empty()) {
            // Never a wrong result and never a run that stops for good: the unit starts over.
            set_aside_checkpoint();
            fe.post_status(unusable_checkpoint_text(stored.unusable));
        }
        state.held = HeldLease{lease.lease_id, UnitPosition{u128_to_decimal(range.begin),
                                                            end_to_decimal(range.end, range.end_is_2_128), offset, count}};
        keeper.leased();

        // The rate counts the starts of this run only, and no time spent paused.
        const std::uint64_t resumed_at = offset;
        auto unit_start = Clock::now();
        while (offset < count) {
            const auto pause_began = Clock::now();
            if (stop.stop_requested() || !wait_while_paused(stop, fe, keeper, watch, timing.pause_poll)) break;
            unit_start += Clock::now() - pause_began;
            const std::uint64_t n = std::min(count - offset, chunk);
            const UnitRange piece = sub_range(range, offset, n);
            const auto chunk_start = Clock::now();
            merge(unit, run_backend(piece, choice.options));
            offset += n;
            save_checkpoint(Checkpoint{lease.lease_id, lease.begin, lease.end, offset, unit});
            state.held->unit.offset = offset;
            const double rate =
                static_cast<double>(offset - resumed_at) / std::max(1e-6, seconds_between(unit_start, Clock::now()));
            fe.unit_progress(state.held->unit, rate);
            fe.post_status(progress_text(backend, static_cast<double>(offset) * 100.0 / static_cast<double>(count), rate,
                                         state.units_completed,
                                         static_cast<double>(count - offset) / std::max(1.0, rate)));
            keeper.heartbeat_if_due();
            // The busy time includes the checkpoint, the status text and any heartbeat.
            const int profile = fe.selected_profile();
            if (const auto pause = duty_rest(profile, Clock::now() - chunk_start); pause.count() > 0) rest(pause);
        }
        if (stop.stop_requested()) {
            stopped();
            return;
        }
        const Completion done =
            keeper.on_lease([&] { return complete_lease(token, lease.lease_id, result_json(unit)); });
        // A rejected result must not be resumed either: the unit goes back to the pool, and if it
        // comes back here it is verified again from its first start.
        delete_checkpoint();
        state.held.reset();
        const std::string audit = without_tokens(done.audit, {token});
        if (done.rejected) {
            fe.post_status(unit_rejected_text(audit));
        } else {
            count_accepted_unit(fe, state, count, audit);
        }
    }
}

}  // namespace pelorin
