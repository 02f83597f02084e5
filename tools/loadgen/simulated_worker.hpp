#pragma once
// One simulated worker: the worker's exchanges in the worker's order (challenge, proof of work,
// registration, benchmark, then acquire, heartbeats and complete until the campaign is
// complete), with the twist its behaviour gives it. It never waits itself: each step says
// which request to send next or until when to sleep, and the run carries it out.
#include <chrono>
#include <cstdint>
#include <string>

#include "tools/loadgen/behaviours.hpp"
#include "tools/loadgen/https_multi.hpp"
#include "tools/loadgen/load_options.hpp"
#include "tools/loadgen/unit_records.hpp"

namespace pelorin::loadgen {

using Clock = std::chrono::steady_clock;

// The worker's calls, as the figures group them.
enum class Call { challenge, registration, benchmark, acquire, heartbeat, complete };
inline constexpr int kCalls = 6;
const char* call_name(Call call);

struct Step {
    enum class Kind { send, sleep, done } kind = Kind::done;
    Call call = Call::challenge;
    std::string method;
    std::string path;
    std::string body;
    Clock::time_point until;  // sleep
};

// What a step's request was about, for the records.
struct StepNote {
    std::string lease_id;  // heartbeat and complete: the lease; acquire: the lease granted
    std::string begin;
    std::string end;
    bool repeat = false;  // a duplicate's second complete
    bool wrong = false;   // a complete with a wrong record
};

class SimulatedWorker {
public:
    // `id` is the worker's place in the run (0, 1, ...); `spoil` the wrong worker's own change
    // to its checksums (not 0).
    SimulatedWorker(std::size_t id, Behaviour behaviour, const LoadOptions& options, UnitRecords& records,
                    std::uint64_t spoil);

    Step start(Clock::time_point now);
    // The reply to the request of the last send step.
    Step on_reply(const HttpReply& reply, Clock::time_point now);
    // The end of the last sleep step.
    Step on_wake(Clock::time_point now);

    const std::string& token() const { return token_; }
    const StepNote& note() const { return note_; }
    Behaviour behaviour() const { return behaviour_; }
    std::size_t id() const { return id_; }
    // How the worker ended: "" while it runs, "complete" (the campaign), "vanished", or the
    // reason it gave up.
    const std::string& ending() const { return ending_; }

private:
    enum class Phase { challenge, registration, benchmark, acquire, working, completing, waiting_to_complete };

    Step send(Call call, std::string method, std::string path, std::string body);
    Step sleep_until(Clock::time_point at);
    Step finish(std::string ending);
    // After a failure: Retry-After when the server gave one, else the run's retry wait.
    Step retry_later(const HttpReply& reply, Clock::time_point now, Phase phase);
    Step acquire();
    Step next_beat_or_complete(Clock::time_point now);
    Step send_complete();

    std::size_t id_;
    Behaviour behaviour_;
    const LoadOptions& options_;
    UnitRecords& records_;
    std::uint64_t spoil_;
    std::string client_id_;

    Phase phase_ = Phase::challenge;
    std::string challenge_id_;
    std::string token_;
    std::string lease_id_;
    std::string begin_;
    std::string end_;
    std::uint64_t unit_starts_ = 0;
    Clock::time_point work_started_;
    Clock::time_point work_ends_;
    Clock::time_point silent_from_;  // vanishing and slow workers send no heartbeat from here
    std::string complete_body_;
    bool completes_sent_twice_ = false;
    StepNote note_;
    std::string ending_;
};

}  // namespace pelorin::loadgen
