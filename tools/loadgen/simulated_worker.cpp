#include "tools/loadgen/simulated_worker.hpp"

#include <algorithm>
#include <stdexcept>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/proof_of_work.hpp"
#include "coordinator/registration.hpp"
#include "coordinator/request_bodies.hpp"
#include "engine/proof_table.hpp"
#include "sha256/sha256.hpp"
#include "tools/loadgen/limits.hpp"
#include "wideint/text_forms.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::loadgen {
namespace {

bool retryable(long status) { return status == 0 || status == 408 || status == 429 || status >= 500; }
// The server no longer counts this lease as the worker's: it asks for work again.
bool lease_lost(long status) { return status == 403 || status == 404 || status == 409; }

}  // namespace

const char* call_name(Call call) {
    switch (call) {
        case Call::challenge: return "challenge";
        case Call::registration: return "register";
        case Call::benchmark: return "benchmark";
        case Call::acquire: return "acquire";
        case Call::heartbeat: return "heartbeat";
        case Call::complete: return "complete";
    }
    return "challenge";
}

SimulatedWorker::SimulatedWorker(std::size_t id, Behaviour behaviour, const LoadOptions& options, UnitRecords& records,
                                 std::uint64_t spoil)
    : id_(id),
      behaviour_(behaviour),
      options_(options),
      records_(records),
      spoil_(spoil),
      client_id_(sha256_hex("pelorin-loadgen client " + std::to_string(options.seed) + " " + std::to_string(id))
                     .substr(0, 32)) {}

Step SimulatedWorker::send(Call call, std::string method, std::string path, std::string body) {
    Step s;
    s.kind = Step::Kind::send;
    s.call = call;
    s.method = std::move(method);
    s.path = std::move(path);
    s.body = std::move(body);
    return s;
}

Step SimulatedWorker::sleep_until(Clock::time_point at) {
    Step s;
    s.kind = Step::Kind::sleep;
    s.until = at;
    return s;
}

Step SimulatedWorker::finish(std::string ending) {
    ending_ = std::move(ending);
    return Step{};
}

Step SimulatedWorker::start(Clock::time_point) {
    phase_ = Phase::challenge;
    note_ = StepNote{};
    return send(Call::challenge, "GET", kChallengePath, "");
}

Step SimulatedWorker::retry_later(const HttpReply& reply, Clock::time_point now, Phase phase) {
    phase_ = phase;
    const Clock::duration wait =
        reply.retry_after ? scaled(options_, *reply.retry_after) : scaled(options_, options_.retry_wait);
    return sleep_until(now + wait);
}

Step SimulatedWorker::acquire() {
    phase_ = Phase::acquire;
    note_ = StepNote{};
    return send(Call::acquire, "POST", kAcquirePath, acquire_body(kReportedStartsPerSecond, proof_table_hash()));
}

Step SimulatedWorker::send_complete() {
    phase_ = Phase::completing;
    note_.repeat = false;
    return send(Call::complete, "POST", lease_path(lease_id_, "complete"), complete_body_);
}

Step SimulatedWorker::next_beat_or_complete(Clock::time_point now) {
    phase_ = Phase::working;
    const Clock::time_point beat = now + scaled(options_, options_.heartbeat);
    return sleep_until(std::min({beat, work_ends_, silent_from_}));
}

Step SimulatedWorker::on_reply(const HttpReply& reply, Clock::time_point now) {
    switch (phase_) {
        case Phase::challenge: {
            if (reply.status != 200) return retry_later(reply, now, Phase::challenge);
            const Challenge challenge = read_challenge(reply.body);
            if (challenge.difficulty_bits > kMaxDifficultyBits)
                return finish("the challenge asks for " + std::to_string(challenge.difficulty_bits) +
                              " bits; the load tool solves up to " + std::to_string(kMaxDifficultyBits));
            const std::uint64_t solution = solve_challenge(challenge.nonce, challenge.difficulty_bits, {});
            phase_ = Phase::registration;
            return send(Call::registration, "POST", kRegisterPath,
                        registration_body(challenge.challenge_id, solution, client_id_,
                                          sha256_hex("pelorin-loadgen hardware " + std::to_string(id_)),
                                          sha256_hex("pelorin-loadgen")));
        }
        case Phase::registration: {
            // A challenge serves one registration: any failure starts again from a new one.
            if (retryable(reply.status)) return retry_later(reply, now, Phase::challenge);
            if (reply.status != 200) return finish("registration refused with status " + std::to_string(reply.status));
            token_ = read_registration(WorkerIdentity{client_id_, "", ""}, reply.body).token;
            phase_ = Phase::benchmark;
            return send(Call::benchmark, "POST", kBenchmarkPath,
                        benchmark_body(sha256_hex("pelorin-loadgen"), kBackend, kReportedStartsPerSecond));
        }
        case Phase::benchmark:
            if (retryable(reply.status)) return retry_later(reply, now, Phase::benchmark);
            return acquire();
        case Phase::acquire: {
            if (retryable(reply.status)) return retry_later(reply, now, Phase::acquire);
            if (reply.status == 401) return start(now);  // the token was forgotten: register again
            if (reply.status != 200) return finish("acquire refused with status " + std::to_string(reply.status));
            const Lease lease = read_lease(reply.body);
            if (lease.complete) return finish("complete");
            lease_id_ = lease.lease_id;
            begin_ = lease.begin;
            end_ = lease.end;
            note_ = StepNote{lease_id_, begin_, end_};
            const EndBound e = parse_end_bound(end_);
            unit_starts_ = unit_size(UnitRange{parse_u128(begin_), e.value, e.end_is_2_128});
            work_started_ = now;
            work_ends_ = now + scaled(options_, options_.work);
            // Vanishing and slow workers fall silent halfway through the unit.
            silent_from_ = behaviour_ == Behaviour::vanishing || behaviour_ == Behaviour::slow
                               ? now + scaled(options_, options_.work) / 2
                               : Clock::time_point::max();
            const bool wrong = behaviour_ == Behaviour::wrong;
            complete_body_ = complete_body(wrong ? records_.wrong(begin_, end_, spoil_) : records_.honest(begin_, end_));
            note_.wrong = wrong;
            completes_sent_twice_ = false;
            return next_beat_or_complete(now);
        }
        case Phase::working:
            if (lease_lost(reply.status)) return acquire();
            return next_beat_or_complete(now);  // a failed heartbeat is sent again at the next beat
        case Phase::completing:
            if (retryable(reply.status)) return retry_later(reply, now, Phase::completing);
            if (behaviour_ == Behaviour::duplicate && !completes_sent_twice_) {
                completes_sent_twice_ = true;
                Step again = send_complete();
                note_.repeat = true;
                return again;
            }
            return acquire();
        case Phase::waiting_to_complete: break;
    }
    throw std::logic_error("a reply came while the worker was waiting");
}

Step SimulatedWorker::on_wake(Clock::time_point now) {
    switch (phase_) {
        case Phase::challenge: return start(now);
        case Phase::benchmark:
            return send(Call::benchmark, "POST", kBenchmarkPath,
                        benchmark_body(sha256_hex("pelorin-loadgen"), kBackend, kReportedStartsPerSecond));
        case Phase::acquire: return acquire();
        case Phase::completing:
        case Phase::waiting_to_complete: return send_complete();
        case Phase::registration: break;
        case Phase::working: {
            if (now >= silent_from_) {
                if (behaviour_ == Behaviour::vanishing) return finish("vanished");
                // Slow: silent until the lease has run out, then the complete.
                phase_ = Phase::waiting_to_complete;
                return sleep_until(silent_from_ + std::chrono::duration_cast<Clock::duration>(options_.lease_timeout) +
                                   scaled(options_, options_.heartbeat));
            }
            if (now >= work_ends_) return send_complete();
            const double done = std::chrono::duration<double>(now - work_started_) /
                                std::chrono::duration<double>(work_ends_ - work_started_);
            const auto progress = static_cast<std::uint64_t>(static_cast<double>(unit_starts_) * std::clamp(done, 0.0, 1.0));
            return send(Call::heartbeat, "PUT", lease_path(lease_id_, "heartbeat"), heartbeat_body(progress));
        }
    }
    throw std::logic_error("the worker woke while a request was in flight");
}

}  // namespace pelorin::loadgen
