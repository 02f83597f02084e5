#include "worker/lease_cycle.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/https_transport.hpp"
#include "gpu/run_backend.hpp"
#include "state/checkpoint.hpp"
#include "wideint/decimal.hpp"
#include "wideint/unit_range.hpp"
#include "wideint/text_forms.hpp"
#include "worker/status_text.hpp"

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

// Heartbeat and complete name the lease: a 404 or 409 there means the coordinator no longer
// holds it for this worker, a fault that leasing again mends.
template <typename Exchange>
auto on_lease(Exchange exchange) {
    try {
        return exchange();
    } catch (const HttpsError& e) {
        if (e.failure() == HttpsFailure::status && (e.status() == 404 || e.status() == 409)) throw LeaseLost(e.what());
        throw;
    }
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
                     std::uint64_t& units_completed, const LeaseCycleTiming& timing) {
    const std::string& backend = choice.options.name;
    const auto rest = [&](std::chrono::nanoseconds duration) {
        if (timing.duty_sleep) timing.duty_sleep(stop, duration);
        else sleep_unless_stopped(stop, duration);
    };
    for (;;) {
        if (stop.stop_requested()) {
            fe.run_stopped(std::nullopt);
            return;
        }
        while (fe.paused.load()) {
            if (stop.stop_requested()) {
                fe.run_stopped(std::nullopt);
                return;
            }
            fe.post_status(kPausedText);
            sleep_unless_stopped(stop, timing.pause_poll);
        }
        const Lease lease = acquire_lease(token, choice.starts_per_second, choice.proof_hash);
        if (lease.complete) {
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
        if (auto cp = load_checkpoint(lease.lease_id, lease.begin, lease.end, ResumeMatch{backend, choice.proof_hash})) {
            offset = cp->offset;
            unit = std::move(cp->result);
            fe.post_status(resuming_text(offset, count));
        }
        const auto position = [&] { return UnitPosition{unit.begin, unit.end, offset, count}; };

        auto last_heartbeat = Clock::now();
        const auto unit_start = last_heartbeat;
        auto heartbeat_if_due = [&] {
            if (Clock::now() - last_heartbeat >= timing.heartbeat_interval) {
                on_lease([&] { send_heartbeat(token, lease.lease_id, offset); });
                last_heartbeat = Clock::now();
            }
        };
        while (offset < count) {
            if (stop.stop_requested()) break;
            if (fe.paused.load()) {
                fe.unit_paused(position());
                while (fe.paused.load() && !stop.stop_requested()) {
                    heartbeat_if_due();
                    sleep_unless_stopped(stop, timing.pause_poll);
                }
                if (stop.stop_requested()) break;
                fe.unit_resumed(position());
            }
            const std::uint64_t n = std::min(count - offset, chunk);
            const UnitRange piece = sub_range(range, offset, n);
            const auto chunk_start = Clock::now();
            merge(unit, run_backend(piece, choice.options));
            offset += n;
            save_checkpoint(Checkpoint{lease.lease_id, lease.begin, lease.end, offset, unit});
            const double rate = static_cast<double>(offset) / std::max(1e-6, seconds_between(unit_start, Clock::now()));
            fe.post_status(progress_text(backend, static_cast<double>(offset) * 100.0 / static_cast<double>(count), rate,
                                         units_completed,
                                         static_cast<double>(count - offset) / std::max(1.0, rate)));
            heartbeat_if_due();
            // The busy time includes the checkpoint, the status text and any heartbeat.
            const int profile = fe.selected_profile();
            if (const auto pause = duty_rest(profile, Clock::now() - chunk_start); pause.count() > 0) rest(pause);
        }
        if (stop.stop_requested()) {
            fe.run_stopped(position());  // the unit stays leased; its checkpoint stays on disk
            return;
        }
        const std::string audit = on_lease([&] { return complete_lease(token, lease.lease_id, result_json(unit)); });
        delete_checkpoint();
        ++units_completed;
        fe.post_status(unit_accepted_text(audit));
    }
}

}  // namespace pelorin
