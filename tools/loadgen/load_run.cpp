#include "tools/loadgen/load_run.hpp"

#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "tools/loadgen/https_multi.hpp"
#include "tools/loadgen/latency_figures.hpp"
#include "tools/loadgen/limits.hpp"
#include "tools/loadgen/load_records.hpp"
#include "tools/loadgen/simulated_worker.hpp"

namespace pelorin::loadgen {
namespace {

class Run {
public:
    explicit Run(const LoadOptions& options)
        : options_(options),
          http_(options.ca_file, options.max_in_flight, options.request_timeout),
          writer_(options.records) {
        const std::vector<Behaviour> behaviours = assign_behaviours(options.mix, options.workers, options.seed);
        std::mt19937_64 rng(options.seed);
        for (std::size_t i = 0; i < options.workers; ++i)
            workers_.push_back(std::make_unique<SimulatedWorker>(i, behaviours[i], options, records_, rng() | 1));
    }

    RunOutcome run() {
        const Clock::time_point began = Clock::now();
        measured_from_ = began + std::chrono::duration_cast<Clock::duration>(options_.warmup);
        const Clock::time_point deadline = began + std::chrono::duration_cast<Clock::duration>(options_.duration);
        const auto ramp = std::chrono::duration_cast<Clock::duration>(options_.ramp);
        for (std::size_t i = 0; i < workers_.size(); ++i)
            timers_.push({began + ramp * static_cast<long>(i) / static_cast<long>(workers_.size()), i, true});
        active_ = workers_.size();
        while (active_ > 0 && Clock::now() < deadline) {
            const Clock::time_point now = Clock::now();
            while (!timers_.empty() && timers_.top().at <= now) {
                const Timer t = timers_.top();
                timers_.pop();
                SimulatedWorker& w = *workers_[t.worker];
                carry_out(w, t.first ? w.start(now) : w.on_wake(now));
            }
            auto wait = kPollInterval;
            if (!timers_.empty())
                wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(timers_.top().at - Clock::now()),
                                  std::chrono::milliseconds(0), kPollInterval);
            http_.poll(wait);
        }
        writer_.close();
        RunOutcome out;
        out.seconds = std::chrono::duration<double>(Clock::now() - began).count();
        out.finished = active_ == 0;
        const double measured = std::chrono::duration<double>(Clock::now() - measured_from_).count();
        out.figures = figures_.table(measured);
        for (const auto& w : workers_) ++out.endings[w->ending().empty() ? "running" : w->ending()];
        return out;
    }

private:
    struct Timer {
        Clock::time_point at;
        std::size_t worker;
        bool first;
        bool operator>(const Timer& o) const { return at > o.at; }
    };

    void carry_out(SimulatedWorker& w, Step step) {
        switch (step.kind) {
            case Step::Kind::done: --active_; return;
            case Step::Kind::sleep: timers_.push({step.until, w.id(), false}); return;
            case Step::Kind::send: break;
        }
        // Requests go to the servers in turn, as a load balancer hands out new connections.
        const std::string& server = options_.servers[next_server_++ % options_.servers.size()];
        const StepNote note = w.note();
        const Call call = step.call;
        const bool measured = Clock::now() >= measured_from_;
        std::string source;
        if (options_.loopback_networks)
            source = "127." + std::to_string(1 + w.id() / 256 % 255) + "." + std::to_string(w.id() % 256) + ".2";
        http_.send(HttpRequest{server, step.method, step.path, step.body, w.token(), source},
                   [this, &w, server, note, call, measured](const HttpReply& reply) {
                       const Step next = w.on_reply(reply, Clock::now());
                       RequestRecord record{w.id(), w.behaviour(), call, server, note, reply};
                       if (call == Call::acquire) record.note = w.note();  // the lease it was granted
                       writer_.write(record);
                       if (measured) figures_.add(call, reply.status, reply.latency_ms);
                       carry_out(w, next);
                   });
    }

    const LoadOptions& options_;
    HttpsMulti http_;
    RecordWriter writer_;
    UnitRecords records_;
    LatencyFigures figures_;
    std::vector<std::unique_ptr<SimulatedWorker>> workers_;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
    std::size_t active_ = 0;
    std::size_t next_server_ = 0;
    Clock::time_point measured_from_;
};

}  // namespace

RunOutcome run_load(const LoadOptions& options) {
    Run run(options);
    return run.run();
}

}  // namespace pelorin::loadgen
