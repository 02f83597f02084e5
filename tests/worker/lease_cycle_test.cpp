// The lease cycle in process against the real development coordinator: a front end that
// records every text and can request a stop or a pause at a chosen moment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

#include "scoped_env.hpp"
#include "coordinator/https_transport.hpp"
#include "engine/proof_table.hpp"
#include "state/checkpoint.hpp"
#include "tests/support/dev_coordinator_process.hpp"
#include "tests/worker/fed_readings.hpp"
#include "worker/lease_cycle.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

using test_support::DevCoordinatorProcess;
namespace fs = std::filesystem;

class RecordingFrontEnd final : public FrontEnd {
public:
    std::function<void(const std::string&)> on_status;
    std::function<void()> on_unit_paused;
    std::vector<int> profiles{1};  // answered in turn, the last one from then on
    int profile_queries = 0;
    void post_status(std::string text) override {
        {
            std::lock_guard lock(mutex_);
            texts_.push_back(text);
        }
        if (on_status) on_status(text);
    }
    int selected_profile() override {
        const auto i = static_cast<std::size_t>(profile_queries++);
        return profiles[std::min(i, profiles.size() - 1)];
    }
    void unit_paused(const UnitPosition& unit) override {
        {
            std::lock_guard lock(mutex_);
            texts_.push_back("(paused at " + std::to_string(unit.offset) + ")");
        }
        if (on_unit_paused) on_unit_paused();
    }
    void unit_resumed(const UnitPosition& unit) override {
        std::lock_guard lock(mutex_);
        texts_.push_back("(resumed at " + std::to_string(unit.offset) + ")");
    }
    void run_stopped(const std::optional<UnitPosition>& unit) override {
        std::lock_guard lock(mutex_);
        texts_.push_back(unit ? "(stopped at " + std::to_string(unit->offset) + ")" : "(stopped between units)");
    }
    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    int count_starting(const std::string& prefix) const {
        int n = 0;
        for (const auto& t : texts())
            if (t.rfind(prefix, 0) == 0) ++n;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

// One coordinator, one registered worker, a fresh data folder per test.
class LeaseCycle : public ::testing::Test {
protected:
    void start(std::vector<std::string> campaign) {
        coordinator_ = std::make_unique<DevCoordinatorProcess>(std::move(campaign));
        ca_ = std::make_unique<test::ScopedEnv>("SSL_CERT_FILE", coordinator_->ca_file().string());
        set_coordinator(CoordinatorAddress{"127.0.0.1", static_cast<std::uint16_t>(coordinator_->port())});
        set_proxy_mode(kProxyDirect);
        token_ = test_support::register_test_worker(*coordinator_).token;
        choice_.options.name = "record-recursive";
        choice_.starts_per_second = 1e6;  // chunks of 2^20 starts: several per unit, each quick
        choice_.proof_hash = proof_table_hash();
    }
    void run(RecordingFrontEnd& fe, std::stop_source& stop) {
        run_lease_cycle(stop.get_token(), fe, token_, choice_, cycle_, timing_);
    }
    int count_requests(const std::string& method, const std::string& path_part) const {
        int n = 0;
        for (const auto& r : coordinator_->requests())
            if (r.method == method && r.path.find(path_part) != std::string::npos) ++n;
        return n;
    }

    test::TempDataFolder data_;
    std::unique_ptr<DevCoordinatorProcess> coordinator_;
    std::unique_ptr<test::ScopedEnv> ca_;
    std::string token_;
    BackendChoice choice_;
    CycleState cycle_;
    LeaseCycleTiming timing_{std::chrono::milliseconds(50), std::chrono::milliseconds(5), {}, std::chrono::seconds(2), {}};
};

TEST(LeaseCycleRules, ChunkSizeAndDutyCycle) {
    EXPECT_EQ(chunk_size_for(1e6), 1048576u);  // 0.75e6 is below the smallest chunk
    EXPECT_EQ(chunk_size_for(4e6), 3000000u);
    EXPECT_EQ(chunk_size_for(1e12), 17179869184u);
    EXPECT_EQ(chunk_size_for(1e300), 17179869184u);
    EXPECT_EQ(chunk_size_for(0.0), 1048576u);
    EXPECT_EQ(chunk_size_for(std::numeric_limits<double>::quiet_NaN()), 1048576u);
    EXPECT_DOUBLE_EQ(duty_cycle(0), 0.85);
    EXPECT_DOUBLE_EQ(duty_cycle(1), 1.0);
    EXPECT_DOUBLE_EQ(duty_cycle(2), 0.5);
    EXPECT_DOUBLE_EQ(duty_cycle(-1), 0.5);
}

TEST_F(LeaseCycle, WholeCampaignWithTheLastChunkShorter) {
    // 5,000,000 starts at 10^6 starts/s: chunks of 1,048,576 and a last one of 805,696.
    start({"--begin", "2^40", "--end", "1099516627776", "--unit-size", "5000000"});
    RecordingFrontEnd fe;
    std::stop_source stop;
    run(fe, stop);
    const auto texts = fe.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kCompleteText);
    EXPECT_EQ(fe.count_starting("WORKING"), 5);
    std::vector<std::string> percents;
    for (const auto& t : texts)
        if (const auto at = t.find("Current unit  "); at != std::string::npos)
            percents.push_back(t.substr(at + 14, t.find('%', at) - at - 14));
    EXPECT_EQ(percents, (std::vector<std::string>{"20.97", "41.94", "62.91", "83.89", "100.00"}));
    EXPECT_EQ(fe.count_starting("Unit accepted \xC2\xB7 accepted\r\n"), 1);
    EXPECT_EQ(cycle_.units_completed, 1u);
    EXPECT_FALSE(std::filesystem::exists(data_.folder() / "checkpoint.json"));
    EXPECT_NE(coordinator_->ledger_json().find("accepted"), std::string::npos);
}

TEST_F(LeaseCycle, StopDuringTheLastChunkThenCompleteWithoutAChunk) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});  // three chunks
    RecordingFrontEnd first;
    std::stop_source stop;
    // The stop arrives while the last chunk runs: it is seen once that chunk is checkpointed.
    first.on_status = [&](const std::string& t) {
        if (t.find("Current unit  100.00%") != std::string::npos) stop.request_stop();
    };
    run(first, stop);
    EXPECT_EQ(count_requests("POST", "/complete"), 0);
    const std::string saved = test::read_file(data_.folder() / "checkpoint.json");
    EXPECT_NE(saved.find("\"offset\":3145728,"), std::string::npos) << saved;

    RecordingFrontEnd second;
    std::stop_source go_on;
    run(second, go_on);
    const auto texts = second.texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.front(), "Resuming checkpoint at 100%...");
    EXPECT_EQ(second.count_starting("WORKING"), 0);  // no chunk ran
    EXPECT_EQ(texts.back(), kCompleteText);
    EXPECT_EQ(count_requests("POST", "/complete"), 1);
}

TEST_F(LeaseCycle, PauseInsideAUnitKeepsTheLeaseAlive) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});
    RecordingFrontEnd fe;
    std::stop_source stop;
    int chunks = 0;
    fe.on_status = [&](const std::string& t) {
        if (t.rfind("WORKING", 0) == 0 && ++chunks == 1) fe.paused = true;
    };
    // The pause is let go only once it has taken hold and kept the lease alive for three
    // heartbeats, however slow the machine: the cycle tells when it holds.
    std::promise<void> holding;
    fe.on_unit_paused = [&] { holding.set_value(); };
    std::thread unpause([&, held = holding.get_future()]() mutable {
        held.wait();
        const int before = count_requests("PUT", "/heartbeat");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (count_requests("PUT", "/heartbeat") < before + 3 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fe.paused = false;
    });
    run(fe, stop);
    unpause.join();
    EXPECT_GE(count_requests("PUT", "/heartbeat"), 3);
    const auto texts = fe.texts();
    // Nothing posted while paused: the texts around the pause are the first chunk's progress,
    // the front end's own notes, and the second chunk's progress.
    const auto paused = std::find(texts.begin(), texts.end(), "(paused at 1048576)");
    ASSERT_NE(paused, texts.end());
    ASSERT_LT(paused + 2, texts.end());
    EXPECT_NE((paused - 1)->find("Current unit  33.33%"), std::string::npos) << *(paused - 1);
    EXPECT_EQ(*(paused + 1), "(resumed at 1048576)");
    EXPECT_NE((paused + 2)->find("Current unit  66.67%"), std::string::npos) << *(paused + 2);
    EXPECT_EQ(fe.count_starting("Paused."), 0);
    EXPECT_EQ(texts.back(), kCompleteText);
}

TEST(LeaseCycleRules, DutyRest) {
    using std::chrono::milliseconds;
    EXPECT_EQ(duty_rest(0, milliseconds(850)).count(), 150'000'000);  // Balanced: 85% busy
    EXPECT_EQ(duty_rest(1, milliseconds(850)).count(), 0);            // Maximum never rests
    EXPECT_EQ(duty_rest(2, milliseconds(700)).count(), 700'000'000);  // Quiet: as long as busy
    EXPECT_EQ(duty_rest(5, milliseconds(700)).count(), 700'000'000);
}

TEST_F(LeaseCycle, TheProfileIsReadAfterEveryChunkAndSetsItsRest) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});  // three chunks
    RecordingFrontEnd fe;
    fe.profiles = {2, 1, 0};  // Quiet, then Maximum, then Balanced
    std::vector<std::chrono::nanoseconds> rests;
    timing_.duty_sleep = [&](const std::stop_token&, std::chrono::nanoseconds d) { rests.push_back(d); };
    std::stop_source stop;
    run(fe, stop);
    EXPECT_EQ(fe.profile_queries, 3);
    // A rest after the Quiet and the Balanced chunks, none after the Maximum one.
    ASSERT_EQ(rests.size(), 2u);
    EXPECT_GT(rests[0].count(), 0);
    EXPECT_GT(rests[1].count(), 0);
}

// The coordinator hands the unit out again under a new lease id (the old one expired): the
// checkpoint is resumed, and saved under the new id from then on.
TEST_F(LeaseCycle, ACheckpointOfAnExpiredLeaseResumesUnderTheNewOne) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});
    RecordingFrontEnd first;
    std::stop_source stop;
    first.on_status = [&](const std::string& t) {
        if (t.rfind("WORKING", 0) == 0) stop.request_stop();
    };
    run(first, stop);
    EXPECT_EQ(first.texts().back(), "(stopped at 1048576)");
    const fs::path file = data_.folder() / "checkpoint.json";
    std::string text = test::read_file(file);
    const auto id_at = text.find("\"lease_id\":\"") + 12;
    const std::string lease_id = text.substr(id_at, text.find('"', id_at) - id_at);
    text.replace(id_at, lease_id.size(), "an-expired-lease");
    test::write_file(file, text);

    RecordingFrontEnd second;
    std::stop_source again;
    second.on_status = [&](const std::string& t) {
        if (t.find("Current unit  66.67%") != std::string::npos) again.request_stop();
    };
    run(second, again);
    EXPECT_EQ(second.texts().front(), "Resuming checkpoint at 33%...");
    EXPECT_NE(test::read_file(file).find("\"lease_id\":\"" + lease_id + "\""), std::string::npos);

    // Another backend's checkpoint is not this backend's work: the unit starts over.
    const auto replace_once = [](std::string& in, const std::string& from, const std::string& to) {
        const auto at = in.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        in.replace(at, from.size(), to);
    };
    text = test::read_file(file);
    replace_once(text, "\"backend\":\"record-recursive\"", "\"backend\":\"cpu-sieve\"");
    replace_once(text, "\"lease_id\":\"" + lease_id + "\"", "\"lease_id\":\"an-expired-lease\"");
    test::write_file(file, text);
    RecordingFrontEnd third;
    std::stop_source go_on;
    run(third, go_on);
    EXPECT_EQ(third.count_starting("Resuming"), 0);
    EXPECT_EQ(third.texts().front(),
              "Local checkpoint unusable: it was made by backend cpu-sieve, and this run uses record-recursive.\r\n"
              "Kept as checkpoint.json.bad; the unit starts from 0%.");
    EXPECT_EQ(test::read_file(data_.folder() / "checkpoint.json.bad"), text);
    EXPECT_EQ(third.count_starting("WORKING"), 3);
    EXPECT_EQ(third.texts().back(), kCompleteText);
}

// "Performance   2.20B starts/s" as a number.
double shown_rate(const std::string& progress) {
    const auto at = progress.find("Performance   ");
    if (at == std::string::npos) return -1;
    std::size_t used = 0;
    const std::string rest = progress.substr(at + 14);
    double value = std::stod(rest, &used);
    const std::string suffixes = "KMBTP";
    if (const auto s = suffixes.find(rest[used]); s != std::string::npos) value *= std::pow(1000.0, double(s + 1));
    return value;
}

// A unit resumed near its end: the rate shown after its first chunk is that chunk's, not the
// resumed starts' over the chunk's time (31 times too high here).
TEST_F(LeaseCycle, TheRateAfterAResumeCountsOnlyThisRunsStarts) {
    constexpr std::uint64_t kChunk = 75'000'000;  // 0.75 s of work at the rate below
    start({"--begin", "2^40", "--end", std::to_string((std::uint64_t{1} << 40) + 32 * kChunk), "--unit-size",
           std::to_string(32 * kChunk)});
    choice_.starts_per_second = 1e8;
    Checkpoint cp{"an-older-lease", std::to_string(std::uint64_t{1} << 40),
                  std::to_string((std::uint64_t{1} << 40) + 32 * kChunk), 31 * kChunk, {}};
    cp.result.backend = choice_.options.name;
    cp.result.proof_hash = choice_.proof_hash;
    save_checkpoint(cp);

    RecordingFrontEnd fe;
    std::stop_source stop;
    std::chrono::steady_clock::time_point resumed, worked;
    fe.on_status = [&](const std::string& t) {
        if (t.rfind("Resuming", 0) == 0) resumed = std::chrono::steady_clock::now();
        if (t.rfind("WORKING", 0) == 0 && !stop.stop_requested()) {
            worked = std::chrono::steady_clock::now();
            stop.request_stop();
        }
    };
    run(fe, stop);
    const auto texts = fe.texts();
    ASSERT_EQ(texts.front(), "Resuming checkpoint at 96%...");
    const auto progress = std::find_if(texts.begin(), texts.end(), [](const auto& t) { return t.rfind("WORKING", 0) == 0; });
    ASSERT_NE(progress, texts.end());
    // The time between the two texts holds the chunk and a little more, so this bound is the
    // chunk's own rate or a little under it.
    const double chunk_rate = double(kChunk) / std::chrono::duration<double>(worked - resumed).count();
    EXPECT_LT(shown_rate(*progress), 4 * chunk_rate) << *progress << "\nthe chunk ran at " << chunk_rate;
    EXPECT_GT(shown_rate(*progress), 0.5 * chunk_rate) << *progress << "\nthe chunk ran at " << chunk_rate;
}

TEST_F(LeaseCycle, PauseBetweenUnitsPostsThePausedTextAndLeasesNothing) {
    start({"--begin", "2^40", "--end", "1099512676352", "--unit-size", "1048576"});
    RecordingFrontEnd fe;
    fe.paused = true;
    std::stop_source stop;
    fe.on_status = [&](const std::string& t) {
        if (t == kPausedText && fe.count_starting("Paused.") >= 3) stop.request_stop();
    };
    run(fe, stop);
    EXPECT_EQ(count_requests("POST", "/acquire"), 0);
    EXPECT_GE(fe.count_starting("Paused.\r\nNo computation is running."), 3);
}

// On battery power with the option on, work waits where it stands: between units nothing is
// leased, inside a unit no chunk runs and the lease is kept with heartbeats; the status says
// why. Mains power again, and work goes on.
TEST_F(LeaseCycle, OnBatteryPowerWorkWaitsAndGoesOnOnMains) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});  // one unit, three chunks
    auto power = std::make_shared<test::FedReadings>();
    power->set(PowerReading{PowerSource::battery, {}});
    timing_.readings = power;
    timing_.machine_poll = std::chrono::nanoseconds(0);  // chunks here take milliseconds: read before each
    RecordingFrontEnd fe;
    fe.pause_controls.on_battery = true;
    std::promise<void> waiting_between, waiting_inside;
    int chunks = 0;
    fe.on_status = [&](const std::string& t) {
        if (t.rfind("PAUSED \xC2\xB7 on battery power", 0) == 0)
            (chunks == 0 ? waiting_between : waiting_inside).set_value();
        if (t.rfind("WORKING", 0) == 0 && ++chunks == 1) power->set(PowerReading{PowerSource::battery, {}});
    };
    std::stop_source stop;
    int chunks_while_waiting = -1, leases_while_waiting = -1, heartbeats_while_waiting = 0;
    std::thread plug_in([&, between = waiting_between.get_future(), inside = waiting_inside.get_future()]() mutable {
        between.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        leases_while_waiting = count_requests("POST", "/acquire");
        power->set(PowerReading{PowerSource::mains, {}});
        inside.wait();
        const int before = count_requests("PUT", "/heartbeat");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (count_requests("PUT", "/heartbeat") < before + 3 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        heartbeats_while_waiting = count_requests("PUT", "/heartbeat") - before;
        chunks_while_waiting = fe.count_starting("WORKING");
        power->set(PowerReading{PowerSource::mains, {}});
    });
    run(fe, stop);
    plug_in.join();
    EXPECT_EQ(leases_while_waiting, 0);
    EXPECT_EQ(chunks_while_waiting, 1) << "a chunk ran on battery power";
    EXPECT_GE(heartbeats_while_waiting, 3);
    const auto texts = fe.texts();
    const std::string between = "PAUSED \xC2\xB7 on battery power\r\n\r\nWork goes on when the computer is on mains power "
                                "again.\r\nNo computation is running.";
    const std::string inside = "PAUSED \xC2\xB7 on battery power\r\n\r\nWork goes on when the computer is on mains power "
                               "again.\r\nThe unit stands at 33.33%, checkpointed; its lease is kept.";
    EXPECT_EQ(std::count(texts.begin(), texts.end(), between), 1);
    const auto paused = std::find(texts.begin(), texts.end(), inside);
    ASSERT_NE(paused, texts.end());
    ASSERT_LT(paused + 2, texts.end());
    EXPECT_EQ(*(paused + 1), "(resumed at 1048576)");
    EXPECT_NE((paused + 2)->find("Current unit  66.67%"), std::string::npos) << *(paused + 2);
    EXPECT_EQ(fe.count_starting("(paused"), 0) << "the user's pause was not asked for";
    EXPECT_EQ(texts.back(), kCompleteText);
}

// Each accepted unit is added to this installation's totals and saved; a totals file that
// cannot be written costs a line, and the run goes on counting.
TEST_F(LeaseCycle, AcceptedUnitsAreAddedToTheTotalsAndAFailedSaveCostsALine) {
    start({"--begin", "2^40", "--end", "1099513724928", "--unit-size", "1048576"});  // two units
    cycle_.totals = InstallationTotals{5, BigUint(100), "2026-01-01"};
    fs::create_directories(data_.folder() / "totals.json.tmp" / "occupied");  // no file can be written there
    RecordingFrontEnd fe;
    std::stop_source stop;
    fe.on_status = [&](const std::string& t) {
        // Room again after the first unit's save failed.
        if (t.rfind("Could not write", 0) == 0) fs::remove_all(data_.folder() / "totals.json.tmp");
    };
    run(fe, stop);
    EXPECT_EQ(fe.count_starting("Unit accepted"), 2);
    EXPECT_EQ(fe.count_starting("Could not write this computer's totals; they are kept for this run and saved with "
                                "the next accepted unit."),
              1);
    EXPECT_EQ(cycle_.totals.units_accepted, 7u);
    EXPECT_EQ(test::read_file(data_.folder() / "totals.json"),
              "{\"units_accepted\":7,\"starts_verified\":\"2097252\",\"since\":\"2026-01-01\"}\n");
    EXPECT_EQ(fe.texts().back(), kCompleteText);
}

struct FaultCase {
    const char* name;
    const char* fault;
    const char* message;
};

TEST_F(LeaseCycle, CoordinatorFaultsEndTheCycleWithTheirMessageAndKeepTheCheckpoint) {
    start({"--begin", "2^40", "--end", "1099514773504", "--unit-size", "3145728"});
    const FaultCase cases[] = {
        {"acquire 500", R"({"path":"/api/v1/leases/acquire","action":"status","status":500,"body":"down"})",
         "Coordinator error 500: down"},
        {"lease without begin", R"({"path":"/api/v1/leases/acquire","action":"omit","member":"begin"})", "empty integer"},
        {"malformed end", R"({"path":"/api/v1/leases/acquire","action":"malformed","member":"end","value":"\"12x\""})",
         "integer exceeds 128 bits or is malformed"},
    };
    for (const auto& c : cases) {
        coordinator_->post_fault(c.fault);
        RecordingFrontEnd fe;
        std::stop_source stop;
        try {
            run(fe, stop);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.name;
        }
    }
    // A failed complete leaves the checkpoint for the next run, which completes from it.
    // The worker holds its lease; asking again gives the same one, whose id the fault needs.
    const auto held = coordinator_->call("POST", "/api/v1/leases/acquire",
                                         R"({"starts_per_second":1e+06,"proof_hash":")" + proof_table_hash() + "\"}",
                                         token_);
    const auto id_at = held.body.find("\"lease_id\":\"") + 12;
    const std::string lease_id = held.body.substr(id_at, held.body.find('"', id_at) - id_at);
    coordinator_->post_fault(R"({"path":"/api/v1/leases/)" + lease_id +
                             R"(/complete","action":"status","status":500,"body":"busy"})");
    RecordingFrontEnd failing;
    std::stop_source stop;
    EXPECT_THROW(run(failing, stop), std::runtime_error);
    coordinator_->clear_faults();
    ASSERT_TRUE(std::filesystem::exists(data_.folder() / "checkpoint.json"));
    RecordingFrontEnd again;
    run(again, stop);
    EXPECT_EQ(again.texts().front(), "Resuming checkpoint at 100%...");
    EXPECT_EQ(again.texts().back(), kCompleteText);
}

}  // namespace
}  // namespace pelorin
