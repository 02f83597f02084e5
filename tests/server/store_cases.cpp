// The storage cases: leases, completes, replication, set-aside, the frontier, the
// operator's tools and migrations, on whichever engine the suite is instantiated with.
#include "tests/server/store_cases.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "server/store/copies.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server::test {
namespace {

using Kind = ClaimOutcome::Kind;

std::string text_of(const UnitRange& r) {
    return "[" + u128_to_decimal(r.begin) + ", " + end_to_decimal(r.end, r.end_is_2_128) + ")";
}

UnitRange range_of(const std::string& begin, const std::string& end) {
    const EndBound e = parse_end_bound(end);
    return UnitRange{parse_u128(begin), e.value, e.end_is_2_128};
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A lease's expiry is judged on the database's clock; this is well past a short time-out.
constexpr std::int64_t kShortTimeoutMs = 150;
constexpr int kPastShortTimeoutMs = 400;

std::int64_t counted(const StatusFigures& s, UnitState state) {
    const UnitCounts& u = s.campaigns.at(0).units;
    switch (state) {
        case UnitState::open: return u.open;
        case UnitState::leased: return u.leased;
        case UnitState::pending: return u.pending;
        case UnitState::validated: return u.validated;
        case UnitState::set_aside: return u.set_aside;
    }
    return -1;
}

const UnitView& unit_at(const StoreSnapshot& s, std::size_t i) { return s.campaigns.at(0).units.at(i); }

}  // namespace

void StoreCases::SetUp() {
    database_ = GetParam().make();
    store_ = database_->open();
}

std::string StoreCases::add_worker(const std::string& client_id, const std::string& network,
                                   const std::string& hardware) {
    static int serial = 0;
    const std::string id = "challenge-" + std::to_string(++serial);
    store_->add_challenge(Challenge{id, "nonce", 0}, 60'000, 1000);
    Registration r;
    r.challenge_id = id;
    r.client_id = client_id;
    r.nickname = "Anonymous";
    r.token_hash = "hash-of-" + id;
    r.hardware_hash = hardware.empty() ? "hardware-of-" + id : hardware;
    r.network = network;
    const auto worker = store_->register_worker(r);
    if (!worker) throw std::runtime_error("registration failed for " + id);
    token_hashes_[*worker] = r.token_hash;
    return *worker;
}

void StoreCases::add_campaign(const std::string& name, const std::string& begin, const std::string& end,
                              std::uint64_t unit_size) {
    store_->add_campaign(CampaignDefinition{name, range_of(begin, end), unit_size});
}

void StoreCases::establish(const std::vector<std::string>& workers) {
    static int serial = 0;
    add_campaign("warm-up-" + std::to_string(++serial), "0", std::to_string(1000 * workers.size()), 1000);
    for (std::size_t i = 0; i < workers.size(); ++i) {
        const std::string& first = workers[i];
        const std::string& copier = workers[(i + 1) % workers.size()];
        const ClaimOutcome own = claim(first);
        ASSERT_EQ(own.kind, ClaimOutcome::Kind::granted) << first;
        store_->submit_result(result(first, own.lease_id, 5, true));
        const ClaimOutcome copy = claim(copier);
        ASSERT_EQ(text_of(copy.range), text_of(own.range)) << copier << " copies " << first;
        ASSERT_EQ(store_->submit_result(result(copier, copy.lease_id, 5, true)).audit, "accepted") << copier;
    }
}

ClaimOutcome StoreCases::claim(const std::string& worker, std::int64_t timeout_ms, std::int64_t refused_hold_ms,
                               std::int64_t max_age_ms) {
    ClaimRequest request;
    request.worker_id = worker;
    request.starts_per_second = 1e6;
    request.proof_hash = "proof";
    request.lease_timeout_ms = timeout_ms;
    request.refused_hold_ms = refused_hold_ms;
    request.lease_max_age_ms = max_age_ms;
    return store_->claim_unit(request);
}

Submission StoreCases::result(const std::string& worker, const std::string& lease, std::uint64_t checksum,
                              bool needs_confirmation, bool passed) {
    const nlohmann::ordered_json record = {{"checked", "1000"}, {"proof_hash", "p"},   {"checksum_sum", checksum},
                                   {"checksum_xor", 7},  {"steps", "12345"}, {"valid", true}};
    Submission s;
    s.worker_id = worker;
    s.lease_id = lease;
    s.record = record.dump();
    s.body = "{\"result\":" + s.record + "}";
    s.comparable = comparable_text(record);
    s.passed = passed;
    s.reason = passed ? "" : "checksum_sum is wrong";
    s.needs_confirmation = needs_confirmation;
    return s;
}

TEST_P(StoreCases, LeasesHeartbeatsExpiryAndReissueToTheSameWorker) {
    add_campaign("c", "1000", "3500", 1000);
    const std::string a = add_worker("a"), b = add_worker("b"), d = add_worker("d"), e = add_worker("e");
    const ClaimOutcome la = claim(a, kShortTimeoutMs);
    ASSERT_EQ(la.kind, Kind::granted);
    EXPECT_EQ(text_of(la.range), "[1000, 2000)");
    const ClaimOutcome lb = claim(b);
    EXPECT_EQ(text_of(lb.range), "[2000, 3000)");
    // Held: the same lease back (b's, whose lease is long: a's short one may run out on a
    // loaded machine before a asks again).
    EXPECT_EQ(claim(b).lease_id, lb.lease_id);
    EXPECT_EQ(text_of(claim(d).range), "[3000, 3500)");  // the last unit is shorter
    EXPECT_EQ(claim(e).kind, Kind::busy);                 // all leased, none settled

    using HB = HeartbeatOutcome::Kind;
    const struct {
        std::string worker, lease;
        std::uint64_t progress;
        HB want;
    } beats[] = {
        {b, lb.lease_id, 0, HB::alive},           {b, lb.lease_id, 1000, HB::alive},
        {b, lb.lease_id, 1001, HB::beyond_unit},  {a, lb.lease_id, 5, HB::other_worker},
        {b, "lease-999999", 5, HB::unknown},      {b, "not-a-lease", 5, HB::unknown},
        {b, "", 5, HB::unknown},
    };
    for (const auto& beat : beats)
        EXPECT_EQ(store_->heartbeat(beat.worker, beat.lease, beat.progress, 60'000).kind, beat.want)
            << beat.worker << " " << beat.lease << " at " << beat.progress;

    // a's lease runs out; a asks again before anyone else takes the unit: the same unit under
    // a new lease id, and the old lease is gone.
    sleep_ms(kPastShortTimeoutMs);
    EXPECT_EQ(store_->heartbeat(a, la.lease_id, 10, 60'000).kind, HB::expired);
    const ClaimOutcome reissued = claim(a);
    ASSERT_EQ(reissued.kind, Kind::granted);
    EXPECT_EQ(text_of(reissued.range), "[1000, 2000)");
    EXPECT_NE(reissued.lease_id, la.lease_id);
    EXPECT_EQ(store_->heartbeat(a, reissued.lease_id, 10, 60'000).kind, HB::alive);
    EXPECT_EQ(store_->heartbeat(a, la.lease_id, 10, 60'000).kind, HB::expired);
}

TEST_P(StoreCases, AnExpiredUnitGoesToAnotherWorkerAndNoUnitHasTwoLiveLeases) {
    add_campaign("c", "0", "2000", 1000);
    const std::string a = add_worker("a"), b = add_worker("b"), c = add_worker("c");
    const ClaimOutcome la = claim(a, kShortTimeoutMs);
    sleep_ms(kPastShortTimeoutMs);
    const ClaimOutcome lb = claim(b);
    EXPECT_EQ(text_of(lb.range), text_of(la.range)) << "the lowest open unit goes first";
    // a's late result no longer counts: b holds the unit.
    EXPECT_EQ(store_->submit_result(result(a, la.lease_id, 1)).kind, SubmissionOutcome::Kind::superseded);
    const ClaimOutcome lc = claim(c);
    EXPECT_EQ(text_of(lc.range), "[1000, 2000)");
    // Every unit has at most one live lease.
    const StoreSnapshot snap = store_->snapshot();
    for (const UnitView& u : snap.campaigns.at(0).units) {
        int live = 0;
        for (const LeaseView& l : u.leases) live += l.state == "active";
        EXPECT_LE(live, 1) << text_of(u.range);
    }
}

TEST_P(StoreCases, LateIdempotentAndConflictingCompletes) {
    add_campaign("c", "0", "3000", 1000);
    const std::string a = add_worker("a"), b = add_worker("b");
    using SK = SubmissionOutcome::Kind;

    // Late: the lease expired, but nobody took the unit: the result counts.
    const ClaimOutcome late = claim(a, kShortTimeoutMs);
    sleep_ms(kPastShortTimeoutMs);
    EXPECT_EQ(store_->completion_context(a, late.lease_id).kind, CompletionContext::Kind::open);
    const SubmissionOutcome first = store_->submit_result(result(a, late.lease_id, 1));
    EXPECT_EQ(first.kind, SK::recorded);
    EXPECT_EQ(first.audit, "accepted");

    // The same complete again: the same reply, counted once. Another body: a conflict.
    const SubmissionOutcome repeat = store_->submit_result(result(a, late.lease_id, 1));
    EXPECT_EQ(repeat.kind, SK::answered);
    EXPECT_EQ(repeat.audit, "accepted");
    EXPECT_EQ(store_->submit_result(result(a, late.lease_id, 2)).kind, SK::conflict);
    EXPECT_EQ(store_->completion_context(a, late.lease_id).kind, CompletionContext::Kind::answered);
    EXPECT_EQ(store_->completion_context(a, late.lease_id).answered_audit, "accepted");
    // Only the owner completes; unknown leases are unknown.
    const ClaimOutcome lb = claim(b);
    EXPECT_EQ(store_->submit_result(result(a, lb.lease_id, 1)).kind, SK::other_worker);
    EXPECT_EQ(store_->submit_result(result(b, "lease-424242", 1)).kind, SK::unknown);

    const StatusFigures s = store_->status();
    EXPECT_EQ(counted(s, UnitState::validated), 1);
    EXPECT_EQ(s.campaigns.at(0).starts_validated, "1000");
    EXPECT_EQ(unit_at(store_->snapshot(), 0).results.size(), 1u);
}

TEST_P(StoreCases, ACopyFromAnotherWorkerValidatesAReplicatedUnit) {
    add_campaign("c", "0", "2000", 1000);
    const std::string a = add_worker("a"), b = add_worker("b");
    const ClaimOutcome la = claim(a);
    const SubmissionOutcome first = store_->submit_result(result(a, la.lease_id, 5, true));
    EXPECT_EQ(first.audit, "pending: waiting for a copy from another worker");
    EXPECT_EQ(counted(store_->status(), UnitState::pending), 1);
    // a is not handed its own unit for the copy; b is.
    EXPECT_EQ(text_of(claim(a).range), "[1000, 2000)");
    const ClaimOutcome lb = claim(b);
    EXPECT_EQ(text_of(lb.range), "[0, 1000)");
    EXPECT_EQ(store_->submit_result(result(b, lb.lease_id, 5, true)).audit, "accepted");

    const StoreSnapshot snap = store_->snapshot();
    EXPECT_EQ(unit_at(snap, 0).state, UnitState::validated);
    for (const ResultView& r : unit_at(snap, 0).results) EXPECT_EQ(r.status, ResultStatus::validated) << r.worker_id;
    std::int64_t exported = 0;
    store_->export_validated([&](const ExportRow& row) {
        ++exported;
        EXPECT_EQ(row.worker_id, a) << "the first agreeing copy stands for the unit";
        EXPECT_EQ(text_of(row.range), "[0, 1000)");
        EXPECT_NE(row.record.find("\"checksum_sum\":5"), std::string::npos) << row.record;
    });
    EXPECT_EQ(exported, 1);
}

TEST_P(StoreCases, AThirdWorkerSettlesAMismatch) {
    add_campaign("c", "0", "1000", 1000);
    const std::string a = add_worker("a"), b = add_worker("b"), c = add_worker("c");
    const ClaimOutcome la = claim(a);
    store_->submit_result(result(a, la.lease_id, 5, true));
    const ClaimOutcome lb = claim(b);
    EXPECT_EQ(store_->submit_result(result(b, lb.lease_id, 6)).audit, "pending: waiting for a copy from another worker");
    EXPECT_EQ(claim(a).kind, Kind::busy);  // neither copy's worker settles it
    EXPECT_EQ(claim(b).kind, Kind::busy);
    const ClaimOutcome lc = claim(c);
    ASSERT_EQ(lc.kind, Kind::granted);
    EXPECT_EQ(store_->submit_result(result(c, lc.lease_id, 5)).audit, "accepted");

    for (const WorkerFigures& w : store_->workers()) {
        const bool faulty = w.worker_id == b;
        EXPECT_EQ(w.results_validated, faulty ? 0 : 1) << w.worker_id;
        EXPECT_EQ(w.results_rejected, faulty ? 1 : 0) << w.worker_id;
    }
    EXPECT_EQ(claim(c).kind, Kind::complete);
}

TEST_P(StoreCases, FailingResultsSetAUnitAsideAfterTheThreshold) {
    const std::string a = add_worker("a"), b = add_worker("b"), c = add_worker("c");
    establish({a, b, c});
    add_campaign("c", "0", "2000", 1000);
    const auto units_of_c = [&] { return store_->status().campaigns.at(1).units; };
    std::set<std::string> leases;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const ClaimOutcome l = claim(a);
        EXPECT_EQ(text_of(l.range), "[0, 1000)") << "attempt " << attempt;
        leases.insert(l.lease_id);
        EXPECT_EQ(store_->submit_result(result(a, l.lease_id, 1, false, false)).audit, "rejected: checksum_sum is wrong");
    }
    EXPECT_EQ(leases.size(), 3u);
    EXPECT_EQ(units_of_c().set_aside, 1);
    EXPECT_EQ(text_of(claim(a).range), "[1000, 2000)");
    // Three copies that all disagree set a unit aside too.
    add_campaign("d", "5000", "6000", 1000);
    const ClaimOutcome held = claim(a);
    store_->submit_result(result(a, held.lease_id, 1));  // a finishes [1000, 2000)
    std::uint64_t checksum = 10;
    for (const std::string& w : {a, b, c}) {
        const ClaimOutcome l = claim(w);
        ASSERT_EQ(text_of(l.range), "[5000, 6000)") << w;
        store_->submit_result(result(w, l.lease_id, ++checksum, true));
    }
    EXPECT_EQ(store_->status().campaigns.at(2).units.set_aside, 1);
    // Set-aside units keep the campaign from completing: they wait for the operator.
    const ClaimOutcome waiting = claim(add_worker("e"));
    EXPECT_EQ(waiting.kind, Kind::busy);
    EXPECT_TRUE(waiting.waits_for_operator);
}

// A unit that awaits a copy goes only to a worker independent of every worker with a result
// standing on it (another registration, machine and network), drawn at random among such
// units; a worker's trust grows only from results an independent copy confirmed.
TEST_P(StoreCases, CopiesGoOnlyToIndependentWorkersAndOnlyConfirmedResultsEarnTrust) {
    add_campaign("c", "0", "5000", 1000);
    const std::string a = add_worker("a", "net-1", "machine-a"), partner = add_worker("p", "net-1"),
                      twin = add_worker("t", "net-9", "machine-a"), b = add_worker("b", "net-2");
    const ClaimOutcome la = claim(a);
    ASSERT_EQ(text_of(la.range), "[0, 1000)");
    store_->submit_result(result(a, la.lease_id, 5, true));
    const ClaimOutcome lp = claim(partner);
    EXPECT_EQ(text_of(lp.range), "[1000, 2000)") << "a's network partner does not get its unit";
    const ClaimOutcome lt = claim(twin);
    EXPECT_NE(text_of(lt.range), "[0, 1000)") << "a's machine twin does not get its unit";
    const ClaimOutcome lb = claim(b);
    ASSERT_EQ(text_of(lb.range), "[0, 1000)") << "an independent worker copies it";
    EXPECT_EQ(store_->submit_result(result(b, lb.lease_id, 5, true)).audit, "accepted");

    // a's result was confirmed: one step of trust. A result validated without a copy is none.
    const ClaimOutcome next = claim(a);
    EXPECT_EQ(store_->completion_context(a, next.lease_id).validated_since_fault, 1);
    EXPECT_EQ(store_->submit_result(result(a, next.lease_id, 5)).audit, "accepted");
    const ClaimOutcome after = claim(a);
    EXPECT_EQ(store_->completion_context(a, after.lease_id).validated_since_fault, 1);
    EXPECT_EQ(store_->completion_context(b, lb.lease_id).kind, CompletionContext::Kind::answered);

    // Units awaiting a copy are drawn at random, not lowest first: of several, a stream of
    // fresh independent workers does not all get the same one.
    add_campaign("d", "0", "4000", 1000);
    // Four workers of one network: none copies another, so four units await a copy.
    for (const std::string& w : {add_worker("d0", "net-d"), add_worker("d1", "net-d"), add_worker("d2", "net-d"),
                                 add_worker("d3", "net-d")}) {
        const ClaimOutcome l = claim(w);
        ASSERT_EQ(l.kind, Kind::granted) << w;
        store_->submit_result(result(w, l.lease_id, 5, true));
    }
    std::set<std::string> drawn;
    for (int i = 0; i < 24; ++i) {
        const std::string copier = add_worker("", "net-copier-" + std::to_string(i));
        const ClaimOutcome l = claim(copier);
        ASSERT_EQ(l.kind, Kind::granted) << i;
        drawn.insert(text_of(l.range));
        ASSERT_TRUE(store_->set_worker_banned(copier, true));  // its lease ends
    }
    EXPECT_GT(drawn.size(), 1u) << "every copier was handed " << *drawn.begin();
}

// A worker outvoted by an independent third worker loses what it had validated alone since
// its last confirmed result: those units wait for a copy again, and coverage falls back.
TEST_P(StoreCases, AnOutvotedWorkersUncopiedResultsAreReopenedForACopy) {
    const std::string w = add_worker("w", "net-w"), h1 = add_worker("h1", "net-1"), h2 = add_worker("h2", "net-2");
    establish({w, h1, h2});
    add_campaign("c", "0", "3000", 1000);
    const auto campaign = [&] { return store_->status().campaigns.at(1); };
    for (int i = 0; i < 2; ++i) {
        const ClaimOutcome l = claim(w);
        EXPECT_EQ(store_->submit_result(result(w, l.lease_id, 5)).audit, "accepted") << "no copy asked for";
    }
    EXPECT_EQ(campaign().validated_below, "2000");

    const ClaimOutcome l1 = claim(h1);
    ASSERT_EQ(text_of(l1.range), "[2000, 3000)");
    store_->submit_result(result(h1, l1.lease_id, 5, true));
    const ClaimOutcome lw = claim(w);
    ASSERT_EQ(text_of(lw.range), "[2000, 3000)");
    store_->submit_result(result(w, lw.lease_id, 6));
    const ClaimOutcome l2 = claim(h2);
    ASSERT_EQ(text_of(l2.range), "[2000, 3000)");
    EXPECT_EQ(store_->submit_result(result(h2, l2.lease_id, 5, true)).audit, "accepted");

    const CampaignFigures c = campaign();
    EXPECT_EQ(c.units.validated, 1);
    EXPECT_EQ(c.units.pending, 2) << "w's two uncopied results wait for a copy";
    EXPECT_EQ(c.validated_below, "0");
    for (const WorkerFigures& f : store_->workers())
        if (f.worker_id == w) {
            EXPECT_GT(f.last_fault_ms, 0);
            EXPECT_EQ(f.results_pending, 2);
        }
    // An independent copy validates a reopened unit again.
    const ClaimOutcome copy = claim(h1);
    ASSERT_EQ(copy.kind, Kind::granted);
    EXPECT_EQ(store_->submit_result(result(h1, copy.lease_id, 5, true)).audit, "accepted");
    EXPECT_EQ(campaign().units.validated, 2);
}

// Invalidating the workers that outvoted an honest result makes it stand again and clears the
// fault they gave its worker; a further copy then validates it.
TEST_P(StoreCases, InvalidateRestoresWhatTheInvalidatedWorkersOutvoted) {
    add_campaign("c", "0", "1000", 1000);
    const std::string h = add_worker("h", "net-h"), f1 = add_worker("f1", "net-1"), f2 = add_worker("f2", "net-2");
    const ClaimOutcome lh = claim(h);
    store_->submit_result(result(h, lh.lease_id, 5, true));
    for (const std::string& f : {f1, f2}) {
        const ClaimOutcome l = claim(f);
        ASSERT_EQ(l.kind, Kind::granted) << f;
        store_->submit_result(result(f, l.lease_id, 6, true));
    }
    const auto figures_of = [&](const std::string& id) {
        for (const WorkerFigures& f : store_->workers())
            if (f.worker_id == id) return f;
        return WorkerFigures{};
    };
    ASSERT_EQ(figures_of(h).results_rejected, 1);
    ASSERT_GT(figures_of(h).last_fault_ms, 0);

    ASSERT_TRUE(store_->invalidate_worker(f1, std::nullopt, 3));
    EXPECT_EQ(figures_of(h).results_rejected, 0) << "h's result is weighed again against f2's alone";
    EXPECT_EQ(figures_of(h).last_fault_ms, 0) << "h's only fault came from the invalidated f1";
    EXPECT_EQ(counted(store_->status(), UnitState::pending), 1);
    ASSERT_TRUE(store_->invalidate_worker(f2, std::nullopt, 3));
    EXPECT_EQ(figures_of(h).results_pending, 1);

    const std::string c = add_worker("c", "net-c");
    const ClaimOutcome lc = claim(c);
    ASSERT_EQ(lc.kind, Kind::granted);
    EXPECT_EQ(store_->submit_result(result(c, lc.lease_id, 5, true)).audit, "accepted");
    EXPECT_EQ(figures_of(h).results_validated, 1);
    EXPECT_EQ(figures_of(f1).results_validated + figures_of(f2).results_validated, 0);
    EXPECT_GT(figures_of(f1).last_fault_ms, 0) << "the invalidated workers stay at fault";
}

// Refusals from registrations with nothing confirmed count for nothing; an established
// worker's do, and the set-aside unit waits for the operator, who reopens it.
TEST_P(StoreCases, ThrowawayRefusalsSetNothingAsideAndTheOperatorReopensSetAsideUnits) {
    const std::string e1 = add_worker("e1"), e2 = add_worker("e2"), e3 = add_worker("e3");
    establish({e1, e2, e3});
    add_campaign("c", "0", "1000", 1000);
    const auto units_of_c = [&] { return store_->status().campaigns.at(1).units; };
    for (int i = 0; i < 3; ++i) {
        const std::string throwaway = add_worker();
        const ClaimOutcome l = claim(throwaway);
        ASSERT_EQ(text_of(l.range), "[0, 1000)") << i;
        store_->submit_result(result(throwaway, l.lease_id, 1, false, false));
    }
    EXPECT_EQ(units_of_c().set_aside, 0);
    EXPECT_EQ(units_of_c().open, 1);

    for (const std::string& e : {e1, e2, e3}) {
        const ClaimOutcome l = claim(e);
        ASSERT_EQ(text_of(l.range), "[0, 1000)") << e;
        store_->submit_result(result(e, l.lease_id, 1, false, false));
    }
    EXPECT_EQ(units_of_c().set_aside, 1);
    const ClaimOutcome waiting = claim(add_worker());
    EXPECT_EQ(waiting.kind, Kind::busy) << "set-aside units keep the campaign from completing";
    EXPECT_TRUE(waiting.waits_for_operator);

    EXPECT_EQ(store_->reopen_set_aside("c", 3).units, 1);
    EXPECT_EQ(units_of_c().set_aside, 0);
    const ClaimOutcome again = claim(e1);
    ASSERT_EQ(text_of(again.range), "[0, 1000)");
    store_->submit_result(result(e1, again.lease_id, 1, false, false));
    EXPECT_EQ(units_of_c().set_aside, 0) << "the refusals before the reopening no longer count";
    EXPECT_EQ(store_->reopen_set_aside("c", 3).units, 0);
    EXPECT_THROW(store_->reopen_set_aside("nope", 3), std::invalid_argument);
}

// A worker that heartbeats and never completes cannot hold a unit forever: past the lease's
// maximum age the unit also goes to another worker, and the first may still complete it.
TEST_P(StoreCases, AUnitHeldPastTheLeasesMaximumAgeAlsoGoesToAnotherWorker) {
    add_campaign("c", "0", "1000", 1000);
    const std::string a = add_worker("a", "net-a"), b = add_worker("b", "net-b"), d = add_worker("d", "net-d");
    const ClaimOutcome la = claim(a, 60'000, 0, kShortTimeoutMs);
    ASSERT_EQ(la.kind, Kind::granted);
    EXPECT_EQ(claim(b).kind, Kind::busy) << "within its maximum age the lease holds the unit";
    sleep_ms(kPastShortTimeoutMs);
    using HB = HeartbeatOutcome::Kind;
    EXPECT_EQ(store_->heartbeat(a, la.lease_id, 10, 60'000).kind, HB::alive) << "a heartbeat does not stop the clock";
    const ClaimOutcome lb = claim(b, 60'000, 0, kShortTimeoutMs);
    ASSERT_EQ(lb.kind, Kind::granted);
    EXPECT_EQ(text_of(lb.range), text_of(la.range));
    EXPECT_EQ(claim(d).kind, Kind::busy) << "b's lease is within its own maximum age";
    // Both go on; the first result waits for the second, an independent copy.
    EXPECT_EQ(store_->heartbeat(a, la.lease_id, 20, 60'000).kind, HB::alive);
    EXPECT_EQ(store_->heartbeat(b, lb.lease_id, 20, 60'000).kind, HB::alive);
    EXPECT_EQ(store_->submit_result(result(a, la.lease_id, 5, true)).audit, "pending: waiting for a copy from another worker");
    EXPECT_EQ(store_->heartbeat(b, lb.lease_id, 30, 60'000).kind, HB::alive) << "a's result leaves b's lease alone";
    EXPECT_EQ(store_->submit_result(result(b, lb.lease_id, 5, true)).audit, "accepted");
    EXPECT_EQ(counted(store_->status(), UnitState::validated), 1);
}

// A worker that computes wrongly and asks again the moment it is refused must not take the
// same unit back while the hold lasts: other workers get it first.
TEST_P(StoreCases, ARefusedUnitWaitsForOtherWorkersDuringTheHold) {
    add_campaign("c", "0", "2000", 1000);
    const std::string wrong = add_worker("wrong"), other = add_worker("other");
    const ClaimOutcome first = claim(wrong, 60'000, 60'000);
    ASSERT_EQ(text_of(first.range), "[0, 1000)");
    EXPECT_EQ(store_->submit_result(result(wrong, first.lease_id, 1, false, false)).audit,
              "rejected: checksum_sum is wrong");
    const ClaimOutcome next = claim(wrong, 60'000, 60'000);
    EXPECT_EQ(text_of(next.range), "[1000, 2000)") << "the refused unit is held back";
    store_->submit_result(result(wrong, next.lease_id, 1, false, false));
    EXPECT_EQ(claim(wrong, 60'000, 60'000).kind, Kind::busy) << "both units refused to it within the hold";
    EXPECT_EQ(text_of(claim(other, 60'000, 60'000).range), "[0, 1000)");
    // Without a hold the refused worker takes its last refused unit straight back.
    EXPECT_EQ(text_of(claim(wrong, 60'000, 0).range), "[1000, 2000)");
}

TEST_P(StoreCases, UnitsAreMadeLazilyUpTo2To128) {
    add_campaign("whole", "0", "2^128", std::uint64_t{1} << 32);
    const std::string a = add_worker("a");
    const ClaimOutcome first = claim(a);
    EXPECT_EQ(text_of(first.range), "[0, 4294967296)");
    store_->submit_result(result(a, first.lease_id, 9));
    const StatusFigures s = store_->status();
    const UnitCounts& u = s.campaigns.at(0).units;
    EXPECT_LE(u.open + u.leased, 8) << "units are made a few at a time";
    EXPECT_EQ(s.campaigns.at(0).units_total, "79228162514264337593543950336");  // 2^96

    // The top of the range: two whole units and one short one, ending at 2^128.
    add_campaign("top", "340282366920938463463374607422358011909", "2^128", std::uint64_t{1} << 32);
    store_->set_campaign_paused("whole", true);
    std::vector<std::string> got;
    for (int i = 0; i < 4; ++i) {
        const ClaimOutcome l = claim(a);
        if (l.kind != Kind::granted) break;
        got.push_back(text_of(l.range));
        store_->submit_result(result(a, l.lease_id, static_cast<std::uint64_t>(i)));
    }
    EXPECT_EQ(got, (std::vector<std::string>{
                       "[340282366920938463463374607422358011909, 340282366920938463463374607426652979205)",
                       "[340282366920938463463374607426652979205, 340282366920938463463374607430947946501)",
                       "[340282366920938463463374607430947946501, 340282366920938463463374607431768211456)"}));
    const CampaignFigures top = store_->status().campaigns.at(1);
    EXPECT_EQ(top.units_total, "3");
    EXPECT_EQ(top.starts_validated, "9410199547");  // 2 * 2^32 + 820 264 955: the whole range
    EXPECT_EQ(top.validated_below, "340282366920938463463374607431768211456");
    // The paused campaign's work remains: busy, not complete; resumed, it hands out again.
    EXPECT_EQ(claim(a).kind, Kind::busy);
    store_->set_campaign_paused("whole", false);
    EXPECT_EQ(claim(a).kind, Kind::granted);
}

TEST_P(StoreCases, StatusCountsUnitsByStateAndTheValidatedPrefix) {
    add_campaign("c", "100", "5100", 1000);
    const std::string a = add_worker("a"), b = add_worker("b"), c = add_worker("c");
    const ClaimOutcome l0 = claim(a);
    store_->submit_result(result(a, l0.lease_id, 1));  // [100, 1100) validated
    const ClaimOutcome l1 = claim(a);
    store_->submit_result(result(a, l1.lease_id, 1, true));  // [1100, 2100) pending
    claim(b);  // [1100, 2100): b takes the copy
    claim(c);  // [2100, 3100) leased
    const ClaimOutcome l3 = claim(a);
    store_->submit_result(result(a, l3.lease_id, 1));  // [3100, 4100) validated
    const StatusFigures s = store_->status();
    const CampaignFigures& f = s.campaigns.at(0);
    EXPECT_EQ(f.units.validated, 2);
    EXPECT_EQ(f.units.leased, 2);
    EXPECT_EQ(f.units.pending, 0) << "a leased pending unit counts as leased";
    EXPECT_EQ(f.starts_validated, "2000");
    EXPECT_EQ(f.validated_below, "1100");
    EXPECT_EQ(f.units_total, "5");
    EXPECT_EQ(f.units_validated_last_hour, 2);
    EXPECT_EQ(s.active_workers.size(), 3u);
}

// The public page's and the operator's reads, on a campaign with units in every state: its
// last unit is shorter than the others, so starts are counted per unit, not units times size.
TEST_P(StoreCases, ThePagesReadHoursTopWorkersLatestUnitsAndTheOperatorsWatchList) {
    const std::string a = add_worker("a"), b = add_worker("b"), d = add_worker("d"), e = add_worker("e");
    establish({d, e});  // d's refusals count toward setting a unit aside
    add_campaign("c", "0", "3500", 1000);
    const ClaimOutcome u0 = claim(a);
    store_->submit_result(result(a, u0.lease_id, 5, true));  // [0, 1000) waits for b's copy
    const ClaimOutcome u0_copy = claim(b);
    ASSERT_EQ(text_of(u0_copy.range), "[0, 1000)");
    store_->submit_result(result(b, u0_copy.lease_id, 5, true));
    const ClaimOutcome u1 = claim(a);
    store_->submit_result(result(a, u1.lease_id, 5));  // [1000, 2000)
    for (int i = 0; i < 3; ++i) {  // [2000, 3000) set aside: refused three times
        const ClaimOutcome l = claim(d);
        ASSERT_EQ(text_of(l.range), "[2000, 3000)") << "attempt " << i;
        store_->submit_result(result(d, l.lease_id, 1, false, false));
    }
    const ClaimOutcome u3 = claim(a);  // [3000, 3500): two copies that disagree
    store_->submit_result(result(a, u3.lease_id, 5, true));
    const ClaimOutcome u3_copy = claim(b);
    ASSERT_EQ(text_of(u3_copy.range), "[3000, 3500)");
    EXPECT_TRUE(store_->submit_result(result(b, u3_copy.lease_id, 6, true)).copies_disagree);
    // d takes the third copy and lets its lease run out; e is banned.
    ASSERT_EQ(text_of(claim(d, kShortTimeoutMs).range), "[3000, 3500)");
    sleep_ms(kPastShortTimeoutMs);
    ASSERT_TRUE(store_->set_worker_banned(e, true));

    EXPECT_FALSE(store_->campaign_activity(ActivityQuery{"nope", 168, 10, 10}));
    const auto activity = store_->campaign_activity(ActivityQuery{"c", 168, 10, 10});
    ASSERT_TRUE(activity);
    EXPECT_EQ(activity->first_hour_ms % 3'600'000, 0);
    EXPECT_EQ((activity->now_ms - activity->first_hour_ms) / 3'600'000, 167) << "the current hour and 167 before it";
    // Everything happened within a second or two: one hour, or two when it straddled a
    // change of hour.
    std::int64_t units = 0;
    std::int64_t most_workers = 0;
    for (const HourFigures& h : activity->hours) {
        units += h.units_validated;
        most_workers = std::max(most_workers, h.active_workers);
        EXPECT_EQ(h.starts_validated, std::to_string(h.units_validated * 1000)) << h.start_ms;
    }
    EXPECT_EQ(units, 2);
    if (activity->hours.size() == 1) {
        EXPECT_EQ(most_workers, 3) << "a, b and d held leases";
    }
    ASSERT_EQ(activity->top_workers.size(), 2u);
    EXPECT_EQ(activity->top_workers[0].worker_id, a);
    EXPECT_EQ(activity->top_workers[0].units_validated, 2);
    EXPECT_EQ(activity->top_workers[0].starts_validated, "2000");
    EXPECT_EQ(activity->top_workers[1].worker_id, b);
    EXPECT_EQ(activity->top_workers[1].starts_validated, "1000");
    ASSERT_EQ(activity->latest_units.size(), 2u);
    EXPECT_EQ(text_of(activity->latest_units[0].range), "[1000, 2000)") << "the latest first";
    EXPECT_EQ(text_of(activity->latest_units[1].range), "[0, 1000)");
    EXPECT_EQ(activity->latest_units[1].worker_id, a) << "the first agreeing copy stands for the unit";
    const auto limited = store_->campaign_activity(ActivityQuery{"c", 1, 1, 1});
    EXPECT_EQ(limited->first_hour_ms, limited->now_ms - limited->now_ms % 3'600'000);
    EXPECT_EQ(limited->top_workers.size(), 1u);
    EXPECT_EQ(limited->latest_units.size(), 1u);

    const OperatorFigures o = store_->operator_figures(OperatorQuery{});
    EXPECT_EQ(o.set_aside_total, 1);
    ASSERT_EQ(o.set_aside.size(), 1u);
    EXPECT_EQ(o.set_aside[0].campaign, "c");
    EXPECT_EQ(text_of(o.set_aside[0].range), "[2000, 3000)");
    EXPECT_EQ(o.set_aside[0].state, UnitState::set_aside);
    ASSERT_EQ(o.set_aside[0].results.size(), 3u);
    for (const ResultView& r : o.set_aside[0].results) {
        EXPECT_EQ(r.worker_id, d);
        EXPECT_EQ(r.status, ResultStatus::rejected);
        EXPECT_EQ(r.reason, "checksum_sum is wrong");
    }
    EXPECT_EQ(o.mismatched_total, 1);
    ASSERT_EQ(o.mismatched.size(), 1u);
    EXPECT_EQ(text_of(o.mismatched[0].range), "[3000, 3500)");
    EXPECT_EQ(o.mismatched[0].state, UnitState::pending) << "d's lease ran out";
    EXPECT_EQ(o.mismatched[0].results.size(), 2u);
    // e is banned and listed first; d's refused results are faults. a and b are not at fault.
    EXPECT_EQ(o.troubled_workers_total, 2);
    ASSERT_EQ(o.troubled_workers.size(), 2u);
    EXPECT_EQ(o.troubled_workers[0].worker_id, e);
    EXPECT_TRUE(o.troubled_workers[0].banned);
    EXPECT_EQ(o.troubled_workers[1].worker_id, d);
    EXPECT_GT(o.troubled_workers[1].last_fault_ms, 0);
    // Leases that ended with a result: two copies of [0, 1000), [1000, 2000), three refused,
    // two copies of [3000, 3500), and the warm-up's four; d's last one ran out.
    EXPECT_EQ(o.leases_completed, 12);
    EXPECT_EQ(o.leases_expired, 1);
    EXPECT_EQ(o.results_pending, 2);
    EXPECT_EQ(o.units_pending, 1);
    ASSERT_TRUE(o.oldest_pending_ms);
    EXPECT_LE(*o.oldest_pending_ms, o.now_ms);
    const OperatorFigures one = store_->operator_figures(OperatorQuery{60'000, 1});
    EXPECT_EQ(one.troubled_workers_total, 2) << "the totals do not depend on the limit";
    EXPECT_EQ(one.troubled_workers.size(), 1u);
}

TEST_P(StoreCases, RegistrationUsesItsChallengeOnceAndKeepsAClientsWorkerId) {
    store_->add_challenge(Challenge{"c1", "n1", 8}, 60'000, 1000);
    const auto found = store_->find_challenge("c1");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->nonce, "n1");
    EXPECT_EQ(found->difficulty_bits, 8u);
    Registration r;
    r.challenge_id = "c1";
    r.client_id = "client";
    r.token_hash = "h1";
    const auto first = store_->register_worker(r);
    ASSERT_TRUE(first);
    EXPECT_FALSE(store_->register_worker(r)) << "a challenge is good for one registration";
    EXPECT_FALSE(store_->find_challenge("c1"));

    store_->add_challenge(Challenge{"c2", "n2", 8}, 60'000, 1000);
    r.challenge_id = "c2";
    r.token_hash = "h2";
    EXPECT_EQ(store_->register_worker(r), first) << "the same client keeps its worker id";
    EXPECT_FALSE(store_->worker_by_token_hash("h1")) << "its old token stops working";
    EXPECT_EQ(store_->worker_by_token_hash("h2")->worker_id, *first);

    // Challenges expire, and beyond the cap the oldest are forgotten.
    store_->add_challenge(Challenge{"short", "n", 8}, 1, 1000);
    sleep_ms(20);
    EXPECT_FALSE(store_->find_challenge("short"));
    for (const char* id : {"x1", "x2", "x3", "x4"}) {
        store_->add_challenge(Challenge{id, "n", 8}, 60'000, 2);
        sleep_ms(2);
    }
    EXPECT_FALSE(store_->find_challenge("x2"));
    EXPECT_TRUE(store_->find_challenge("x3"));
    EXPECT_TRUE(store_->find_challenge("x4"));
}

TEST_P(StoreCases, ABanEndsTheWorkersLeasesAndInvalidateHandsItsUnitsOutAgain) {
    add_campaign("c", "0", "2000", 1000);
    const std::string a = add_worker("a"), b = add_worker("b");
    const ClaimOutcome la = claim(a);
    store_->submit_result(result(a, la.lease_id, 1));
    const ClaimOutcome held = claim(a);
    ASSERT_TRUE(store_->set_worker_banned(a, true));
    EXPECT_TRUE(store_->worker_by_token_hash(token_hashes_[a])->banned);
    EXPECT_FALSE(store_->set_worker_banned("w-999999", true));
    EXPECT_EQ(store_->heartbeat(a, held.lease_id, 0, 60'000).kind, HeartbeatOutcome::Kind::expired);
    EXPECT_EQ(text_of(claim(b).range), text_of(held.range)) << "the banned worker's unit went back to the pool";
    bool banned_listed = false;
    for (const WorkerFigures& w : store_->workers())
        if (w.worker_id == a) banned_listed = w.banned;
    EXPECT_TRUE(banned_listed);

    const auto outcome = store_->invalidate_worker(a, std::nullopt, 3);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->results, 1);
    EXPECT_EQ(outcome->units, 1);
    EXPECT_FALSE(store_->invalidate_worker("w-999999", std::nullopt, 3));
    const StatusFigures s = store_->status();
    EXPECT_EQ(counted(s, UnitState::validated), 0);
    EXPECT_EQ(counted(s, UnitState::open), 1);
    // Only results since a moment are set aside when one is given.
    const std::string c = add_worker("c");
    const ClaimOutcome lc = claim(c);
    store_->submit_result(result(c, lc.lease_id, 1));
    EXPECT_EQ(store_->invalidate_worker(c, store_->status().now_ms + 60'000, 3)->results, 0);
}

TEST_P(StoreCases, TwoInstancesClaimingAtOnceNeverHandOutOneUnitTwice) {
    // Two stores on one database are two server instances; each serves requests on several
    // threads, every thread a worker of its own that claims and completes until the end.
    constexpr int kUnits = 48;
    constexpr int kThreadsPerInstance = 3;
    add_campaign("c", "0", std::to_string(kUnits * 100), 100);
    auto second = database_->open();
    Store* instances[] = {store_.get(), second.get()};
    std::vector<std::string> workers;
    for (int i = 0; i < 2 * kThreadsPerInstance; ++i) workers.push_back(add_worker("racer-" + std::to_string(i)));
    std::mutex mutex;
    std::map<std::string, int> granted;  // unit -> times handed out
    std::vector<std::string> errors;
    std::vector<std::thread> threads;
    for (int i = 0; i < 2 * kThreadsPerInstance; ++i)
        threads.emplace_back([&, i] {
            Store& store = *instances[i % 2];
            try {
                for (;;) {
                    const ClaimOutcome l = store.claim_unit(ClaimRequest{workers[i], 1e6, "proof", 60'000});
                    if (l.kind == Kind::complete) return;
                    if (l.kind == Kind::busy) {
                        // The others hold the last units: ask again a moment later, as a worker
                        // waits for its Retry-After, rather than keep the writer's lock busy.
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        continue;
                    }
                    {
                        std::lock_guard lock(mutex);
                        ++granted[text_of(l.range)];
                    }
                    const SubmissionOutcome s = store.submit_result(result(workers[i], l.lease_id, 1));
                    if (s.audit != "accepted") throw std::runtime_error(l.lease_id + " got " + s.audit);
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex);
                errors.push_back(workers[i] + ": " + e.what());
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(granted.size(), static_cast<std::size_t>(kUnits));
    for (const auto& [unit, times] : granted) EXPECT_EQ(times, 1) << unit;
    const StatusFigures s = store_->status();
    EXPECT_EQ(counted(s, UnitState::validated), kUnits);
    EXPECT_EQ(s.campaigns.at(0).validated_below, std::to_string(kUnits * 100));
}

TEST_P(StoreCases, MigrationsOnEmptyOlderAndNewerDatabases) {
    const int newest = database_->newest_schema_version();
    ASSERT_GE(newest, 2);
    EXPECT_EQ(store_->schema_version(), newest) << "an empty database is brought to the newest schema";

    auto older_db = GetParam().make();
    {
        auto older = older_db->open(1);
        EXPECT_EQ(older->schema_version(), 1);
        older->add_campaign(CampaignDefinition{"kept", range_of("0", "100"), 10});
    }
    auto upgraded = older_db->open();
    EXPECT_EQ(upgraded->schema_version(), newest);
    ASSERT_EQ(upgraded->campaigns().size(), 1u);
    EXPECT_EQ(upgraded->campaigns().at(0).name, "kept");
    upgraded->add_challenge(Challenge{"c", "n", 1}, 60'000, 10);  // the later migration's table
    EXPECT_TRUE(upgraded->find_challenge("c"));
    upgraded.reset();

    older_db->stamp_schema_version(newest + 1);
    try {
        older_db->open();
        ADD_FAILURE() << "a database newer than the program was opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("has schema version " + std::to_string(newest + 1)), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("use a newer pelorin-coordinator"), std::string::npos) << e.what();
    }
}

TEST_P(StoreCases, CampaignsRefuseBadRangesAndDuplicateNames) {
    add_campaign("c", "0", "10", 5);
    const struct {
        CampaignDefinition definition;
        const char* message;
    } cases[] = {
        {{"c", range_of("0", "10"), 5}, "a campaign named c exists"},
        {{"r", range_of("10", "5"), 5}, "range end is below begin"},
        {{"z", range_of("0", "10"), 0}, "unit size must be at least 1"},
        {{"", range_of("0", "10"), 5}, "a campaign needs a name"},
    };
    for (const auto& c : cases) {
        try {
            store_->add_campaign(c.definition);
            ADD_FAILURE() << c.message << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    try {
        store_->set_campaign_paused("nope", true);
        ADD_FAILURE() << "pausing an unknown campaign worked";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()), "no campaign named nope");
    }
    // An empty range is settled at once.
    add_campaign("empty", "7", "7", 5);
    store_->set_campaign_paused("c", true);
    const std::string a = add_worker();
    EXPECT_EQ(claim(a).kind, Kind::busy);  // c is paused, not done
    store_->set_campaign_paused("c", false);
    for (int i = 0; i < 2; ++i) store_->submit_result(result(a, claim(a).lease_id, 1));
    EXPECT_EQ(claim(a).kind, Kind::complete);
}

}  // namespace pelorin::server::test
