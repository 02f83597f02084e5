// The server's pieces without the network: the puzzle's bits, unit checksums, the request
// reader, the unit verdict of copies, the trust rule, the limits, times and addresses.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>
#include <stdexcept>
#include <thread>

#include "engine/mix64.hpp"
#include "server/https_listener.hpp"
#include "server/network_key.hpp"
#include "server/proof_of_work.hpp"
#include "server/rate_limiter.hpp"
#include "server/recompute_budget.hpp"
#include "server/request_body.hpp"
#include "server/request_journal.hpp"
#include "server/store/bound_text.hpp"
#include "server/store/copies.hpp"
#include "server/store/unit_verdict.hpp"
#include "server/store/wide_math.hpp"
#include "server/trust_policy.hpp"
#include "server/unit_checksums.hpp"
#include "server/utc_time.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {
namespace {

UnitRange range_of(const char* begin, const char* end) {
    const EndBound e = parse_end_bound(end);
    return UnitRange{parse_u128(begin), e.value, e.end_is_2_128};
}

std::string text_of(const UnitRange& r) {
    return "[" + u128_to_decimal(r.begin) + ", " + end_to_decimal(r.end, r.end_is_2_128) + ")";
}

TEST(ServerPieces, LeadingZeroBitsOfADigest) {
    const struct {
        const char* hex;
        unsigned bits;
    } cases[] = {{"00f0", 8}, {"08", 4}, {"1abc", 3}, {"2", 2}, {"3", 2}, {"4", 1}, {"7", 1},
                 {"8", 0},    {"f", 0},  {"0000", 16}, {"", 0}, {"0x", 4}};
    for (const auto& c : cases) EXPECT_EQ(leading_zero_bits(c.hex), c.bits) << c.hex;
}

TEST(ServerPieces, UnitChecksumsMatchTheStartByStartSumAcrossLimbBoundaries) {
    const struct {
        const char* begin;
        const char* end;
    } cases[] = {
        {"1", "101"},
        {"18446744073709551611", "18446744073709551621"},  // 2^64 - 5 .. 2^64 + 5
        {"36893488147419103229", "36893488147419103234"},  // across 2^65
        {"340282366920938463463374607431768211449", "2^128"},
        {"7", "7"},
    };
    for (const auto& c : cases) {
        const UnitRange r = range_of(c.begin, c.end);
        std::uint64_t sum = 0;
        std::uint64_t xor_ = 0;
        U128 s = r.begin;
        for (std::uint64_t i = 0; i < unit_size(r); ++i, s = add_u64(s, 1)) {
            sum += start_checksum(s);
            xor_ ^= start_checksum(s);
        }
        const ChecksumPair got = unit_checksums(r);
        EXPECT_EQ(got.sum, sum) << text_of(r);
        EXPECT_EQ(got.xor_, xor_) << text_of(r);
    }
    // The engine's known answer on [1, 101).
    EXPECT_EQ(unit_checksums(range_of("1", "101")).sum, 0xe2a5fa25472999f3ull);
    EXPECT_EQ(unit_checksums(range_of("1", "101")).xor_, 0xc0c53dd80785a299ull);
}

TEST(ServerPieces, TheRequestReaderIsStrict) {
    const struct {
        const char* body;
        const char* error;  // "" when accepted
    } cases[] = {
        {R"({"progress":"5"})", ""},
        {R"({"result":{"checked":"1","nested":[1,{"a":2}]}})", ""},
        {R"( {"a":1} )", ""},
        {"", "the request body is not JSON"},
        {"{", "the request body is not JSON"},
        {R"({"a":1,})", "the request body is not JSON"},
        {R"({'a':1})", "the request body is not JSON"},
        {R"({"a":1} /* note */)", "the request body is not JSON"},
        {R"({"a":NaN})", "the request body is not JSON"},
        {"{\"a\":\"\xff\"}", "the request body is not JSON"},
        {R"({"a":1}{"b":2})", "the request body is not JSON"},
        {R"([1,2])", "the request body is not a JSON object"},
        {R"("text")", "the request body is not a JSON object"},
        {R"({"a":1,"a":2})", "the request body names the member a twice"},
        {R"({"r":{"x":1,"x":1}})", "the request body names the member x twice"},
        {R"({"a":[[[[[[[[[[1]]]]]]]]]]})", "the request body nests too deeply"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto doc = read_json_object(c.body, error);
        if (*c.error == '\0') {
            EXPECT_TRUE(doc) << c.body << ": " << error;
        } else {
            EXPECT_FALSE(doc) << c.body;
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.body << ": " << error;
        }
    }
    std::string error;
    const auto doc = read_json_object(R"({"s":"x","n":2.5e+06,"b":true,"long":"abcdef"})", error);
    ASSERT_TRUE(doc);
    EXPECT_EQ(string_member(*doc, "s", 10, error), "x");
    EXPECT_EQ(string_member(*doc, "absent", 10, error), "");
    EXPECT_FALSE(string_member(*doc, "n", 10, error));
    EXPECT_EQ(error, "member n must be a string");
    EXPECT_FALSE(string_member(*doc, "long", 5, error));
    EXPECT_EQ(error, "member long is longer than 5 bytes");
    EXPECT_EQ(number_member(*doc, "n", error), 2.5e6);
    EXPECT_EQ(number_member(*doc, "absent", error), 0.0);
    EXPECT_FALSE(number_member(*doc, "b", error));
}

// Compared members of a result: the fixed table's counters and the given checksum.
std::string copy_of(std::uint64_t checksum, const char* proof_hash = "p", const char* steps = "100") {
    return comparable_text(nlohmann::ordered_json{{"checked", "10"},     {"checksum_sum", checksum}, {"checksum_xor", 3},
                                          {"valid", true},       {"proof_hash", proof_hash}, {"steps", steps},
                                          {"elapsed_seconds", 9.5}});
}

TEST(ServerPieces, CopiesAgreeOnWhatDoesNotDependOnTheBackend) {
    EXPECT_TRUE(copies_agree(copy_of(1), copy_of(1)));
    EXPECT_FALSE(copies_agree(copy_of(1), copy_of(2)));
    EXPECT_FALSE(copies_agree(copy_of(1), copy_of(1, "p", "101"))) << "same table: steps count";
    EXPECT_TRUE(copies_agree(copy_of(1, "p"), copy_of(1, "q", "101"))) << "other table: steps do not count";
    EXPECT_EQ(copy_of(1).find("elapsed_seconds"), std::string::npos) << "times are never compared";
}

TEST(ServerPieces, AUnitIsWeighedByItsCopies) {
    using S = ResultStatus;
    // A result of `worker` on a machine and network of its own, from an established worker.
    const auto r = [](std::int64_t id, const char* worker, std::uint64_t checksum, bool confirm = false,
                      S status = S::pending) {
        WeighedResult w;
        w.id = id;
        w.worker_id = worker;
        w.status = status;
        w.needs_confirmation = confirm;
        w.comparable = copy_of(checksum);
        w.passed = status != S::rejected;
        w.worker = WorkerMarks{worker, std::string("hardware of ") + worker, {std::string("network of ") + worker}};
        return w;
    };
    const auto outvoted = [&](std::int64_t id, const char* worker, std::uint64_t checksum) {
        WeighedResult w = r(id, worker, checksum, true, S::rejected);
        w.passed = true;
        return w;
    };
    const auto on_network = [&](WeighedResult w, const char* network) {
        w.worker.networks.push_back(network);
        return w;
    };
    const auto on_machine = [&](WeighedResult w, const char* hardware) {
        w.worker.hardware_hash = hardware;
        return w;
    };
    const auto throwaway = [&](WeighedResult w) {
        w.counts_for_set_aside = false;
        return w;
    };
    const struct {
        const char* what;
        std::vector<WeighedResult> results;
        UnitState state;
        std::int64_t canonical;
        std::vector<std::int64_t> outvoted;
        bool newest_disagrees;  // the last result is a copy that agrees with none before it
        bool copied;            // validated by independent workers' agreement
    } cases[] = {
        {"nothing yet", {}, UnitState::open, 0, {}, false, false},
        {"one trusted result", {r(1, "a", 5)}, UnitState::validated, 1, {}, false, false},
        {"one result to confirm", {r(1, "a", 5, true)}, UnitState::pending, 0, {}, false, false},
        {"two agreeing workers", {r(1, "a", 5, true), r(2, "b", 5, true)}, UnitState::validated, 1, {}, false, true},
        {"one worker twice is no copy", {r(1, "a", 5, true), r(2, "a", 5, true)}, UnitState::pending, 0, {}, false, false},
        {"two workers on one network are no copy",
         {on_network(r(1, "a", 5, true), "n"), on_network(r(2, "b", 5, true), "n")}, UnitState::pending, 0, {}, false,
         false},
        {"two workers on one machine are no copy",
         {on_machine(r(1, "a", 5, true), "m"), on_machine(r(2, "b", 5, true), "m")}, UnitState::pending, 0, {}, false,
         false},
        {"partners agreeing against an independent worker settle nothing",
         {r(1, "h", 5, true), on_network(r(2, "a", 6, true), "n"), on_network(r(3, "b", 6, true), "n")},
         UnitState::pending, 0, {}, false, false},
        {"a trusted partner's agreement validates without a copy",
         {on_machine(r(1, "a", 5, true), "m"), on_machine(r(2, "b", 5), "m")}, UnitState::validated, 1, {}, false, false},
        {"a mismatch waits for a third", {r(1, "a", 5, true), r(2, "b", 6)}, UnitState::pending, 0, {}, true, false},
        {"the third settles it", {r(1, "a", 5, true), r(2, "b", 6), r(3, "c", 5)}, UnitState::validated, 1, {2}, false,
         true},
        {"the third agrees with the second", {r(1, "a", 5, true), r(2, "b", 6), r(3, "c", 6)}, UnitState::validated, 2,
         {1}, false, true},
        {"three answers", {r(1, "a", 5, true), r(2, "b", 6), r(3, "c", 7)}, UnitState::set_aside, 0, {}, true, false},
        {"three answers of new workers wait for more",
         {throwaway(r(1, "a", 5, true)), throwaway(r(2, "b", 6)), throwaway(r(3, "c", 7))}, UnitState::pending, 0, {},
         true, false},
        {"an outvoted result stands again when its outvoters are gone", {r(1, "a", 5, true), outvoted(2, "b", 6)},
         UnitState::pending, 0, {}, true, false},
        {"an outvoted result stays outvoted while its outvoters stand",
         {r(1, "a", 5, true), outvoted(2, "b", 6), r(3, "c", 5)}, UnitState::validated, 1, {2}, false, true},
        {"a refused newest result is no mismatch", {r(1, "a", 5, true), r(2, "b", 6, false, S::rejected)},
         UnitState::pending, 0, {}, false, false},
        {"refused results reopen", {r(1, "a", 5, false, S::rejected)}, UnitState::open, 0, {}, false, false},
        {"three refused", {r(1, "a", 5, false, S::rejected), r(2, "a", 5, false, S::rejected),
                           r(3, "b", 5, false, S::rejected)},
         UnitState::set_aside, 0, {}, false, false},
        {"three throwaway refusals count for nothing",
         {throwaway(r(1, "a", 5, false, S::rejected)), throwaway(r(2, "b", 5, false, S::rejected)),
          throwaway(r(3, "c", 5, false, S::rejected))},
         UnitState::open, 0, {}, false, false},
        {"set aside results do not count", {r(1, "a", 5, false, S::invalidated)}, UnitState::open, 0, {}, false, false},
    };
    for (const auto& c : cases) {
        const UnitVerdict v = weigh_unit(c.results, 3);
        EXPECT_EQ(v.state, c.state) << c.what << ": " << unit_state_name(v.state);
        EXPECT_EQ(v.canonical, c.canonical) << c.what;
        EXPECT_EQ(v.outvoted, c.outvoted) << c.what;
        EXPECT_EQ(v.newest_disagrees, c.newest_disagrees) << c.what;
        EXPECT_EQ(v.copied, c.copied) << c.what;
        if (!c.outvoted.empty()) {
            EXPECT_EQ(v.faulty_workers, std::vector<std::string>{c.outvoted == std::vector<std::int64_t>{1} ? "a" : "b"})
                << c.what;
        }
    }
}

TEST(ServerPieces, NetworksAreComparedByTheOperatorsPrefixes) {
    const NetworkPrefixes standard;
    NetworkPrefixes wide, off;
    ASSERT_TRUE(parse_network_prefixes("16,48", wide));
    ASSERT_TRUE(parse_network_prefixes("off", off));
    const struct {
        const char* a;
        const char* b;
        const NetworkPrefixes& prefixes;
        bool same;
    } cases[] = {
        {"127.0.1.2", "127.0.1.200", standard, true},
        {"127.0.1.2", "127.0.2.2", standard, false},
        {"127.0.1.2", "127.0.2.2", wide, true},
        {"::ffff:198.51.100.7", "198.51.100.9", standard, true},
        {"2001:db8:1:2::5", "2001:db8:1:2:ffff::1", standard, true},
        {"2001:db8:1:2::5", "2001:db8:1:3::5", standard, false},
        {"2001:db8:1:2::5", "2001:db8:1:3::5", wide, true},
        {"not an address", "not an address", standard, true},
        {"not an address", "another text", standard, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(network_key(c.a, c.prefixes) == network_key(c.b, c.prefixes), c.same)
            << c.a << " and " << c.b << ": " << network_key(c.a, c.prefixes) << " / " << network_key(c.b, c.prefixes);
    EXPECT_EQ(network_key("127.0.1.2", standard), "4:127.0.1.0/24");
    EXPECT_EQ(network_key("127.0.1.2", off), "") << "networks not compared";
    for (const char* bad : {"", "24", "24,", "33,64", "24,129", "a,b", "24,64,1"}) {
        NetworkPrefixes p;
        EXPECT_FALSE(parse_network_prefixes(bad, p)) << bad;
    }
}

TEST(ServerPieces, WhichResultsAreCopied) {
    TrustPolicy policy;  // 10 new results, a share of 0.05, results 3 times too fast copied
    const auto context = [](std::int64_t validated, std::int64_t elapsed_ms, double benchmark, double lease_rate = 0) {
        CompletionContext c;
        c.validated_since_fault = validated;
        c.elapsed_ms = elapsed_ms;
        c.benchmark_starts_per_second = benchmark;
        c.lease_starts_per_second = lease_rate;
        return c;
    };
    const std::uint64_t unit = 1'000'000;  // a second at 1e6 starts/s
    const struct {
        const char* what;
        CompletionContext context;
        double draw;
        bool copied;
    } cases[] = {
        {"a new worker", context(9, 5000, 1e6), 0.9, true},
        {"a trusted worker", context(10, 5000, 1e6), 0.9, false},
        {"the random share", context(10, 5000, 1e6), 0.04, true},
        {"just above the share", context(10, 5000, 1e6), 0.05, false},
        {"over three times as fast as its benchmark", context(10, 333, 1e6), 0.9, true},
        {"three times as fast as its benchmark", context(10, 334, 1e6), 0.9, false},
        {"no benchmark: the lease's rate", context(10, 100, 0, 1e6), 0.9, true},
        {"no rate at all", context(10, 5000, 0), 0.9, true},
    };
    for (const auto& c : cases) EXPECT_EQ(needs_confirmation(policy, c.context, unit, c.draw), c.copied) << c.what;
    const TrustPolicy off = development_policy().trust;
    EXPECT_FALSE(needs_confirmation(off, context(0, 1, 0), unit, 0.0)) << "the development coordinator copies nothing";
}

TEST(ServerPieces, RateLimitsHoldAMinutesWorth) {
    RateLimiter limiter(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(limiter.take("a"), 0) << i;
    const int wait = limiter.take("a");
    EXPECT_GE(wait, 1);
    EXPECT_LE(wait, 20);
    EXPECT_EQ(limiter.take("b"), 0) << "each key has its own bucket";
    RateLimiter unlimited(0);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(unlimited.take("a"), 0);
}

TEST(ServerPieces, TheRecomputeBudgetSavesUpAndSpends) {
    RecomputeBudget all(-1);
    EXPECT_TRUE(all.take(std::uint64_t{1} << 62));
    RecomputeBudget none(0);
    // The first savings (a burst of a core's seconds) go, then nothing comes back.
    int granted = 0;
    while (none.take(std::uint64_t{1} << 30) && granted < 1000) ++granted;
    EXPECT_GT(granted, 0);
    EXPECT_LT(granted, 1000);
    EXPECT_FALSE(none.take(std::uint64_t{1} << 30));
    EXPECT_FALSE(none.take(std::uint64_t{1} << 50)) << "a unit dearer than the savings never goes";
    // Spending less than estimated gives the rest back.
    none.spent(std::uint64_t{1} << 30, 0.0);
    EXPECT_TRUE(none.take(std::uint64_t{1} << 30));
}

TEST(ServerPieces, TimesAddressesBoundsAndCounts) {
    EXPECT_EQ(utc_text(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utc_text(1797256831250, true), "2026-12-14T14:00:31.250Z");
    EXPECT_EQ(parse_utc("2026-12-14T14:00:31Z"), 1797256831000);
    EXPECT_EQ(parse_utc("2026-12-14T14:00Z"), 1797256800000);
    EXPECT_EQ(parse_utc("2026-12-14"), 1797206400000);
    for (const char* bad : {"2026-13-01", "2026-02-30", "yesterday", "2026-12-15T25:00Z", "2026-12-15 14:00"})
        EXPECT_THROW(parse_utc(bad), std::invalid_argument) << bad;

    const struct {
        const char* text;
        const char* host;
        int port;
    } addresses[] = {{"0.0.0.0:443", "0.0.0.0", 443}, {"[::]:8443", "::", 8443}, {"localhost:0", "localhost", 0}};
    for (const auto& a : addresses) {
        const ListenAddress got = parse_listen_address(a.text);
        EXPECT_EQ(got.host, a.host) << a.text;
        EXPECT_EQ(got.port, a.port) << a.text;
    }
    for (const char* bad : {"443", "host:", ":443", "host:65536", "[::1:443", "a:b:443"})
        EXPECT_THROW(parse_listen_address(bad), std::invalid_argument) << bad;
    EXPECT_EQ(listen_url("::1", 5), "https://[::1]:5");

    EXPECT_EQ(bound_text(U128{5, 0}), "000000000000000000000000000000000000005");
    EXPECT_EQ(bound_text(U128{}, true), "340282366920938463463374607431768211456");
    EXPECT_LT(bound_text(U128{~0ull, ~0ull}), bound_text(U128{}, true));
    EXPECT_TRUE(bound_from_text(bound_text(U128{}, true)).is_2_128);
    EXPECT_THROW(bound_from_text("12"), std::runtime_error);

    EXPECT_EQ(units_in(range_of("0", "2^128"), 1), "340282366920938463463374607431768211456");
    EXPECT_EQ(units_in(range_of("0", "2^128"), 3), "113427455640312821154458202477256070486");
    EXPECT_EQ(units_in(range_of("10", "10"), 3), "0");
    EXPECT_EQ(starts_in_units(0, 5, 0), "0");
    EXPECT_EQ(starts_in_units(3, 5, 2), "12");
    EXPECT_EQ(starts_in_units(std::int64_t{1} << 62, ~0ull, 0), "85070591730234615861231965839514664960");

    // Starts by state and the decimal arithmetic behind them, against 128-bit integers.
    EXPECT_EQ(range_starts(range_of("0", "2^128")), "340282366920938463463374607431768211456");
    EXPECT_EQ(range_starts(range_of("7", "7")), "0");
    EXPECT_EQ(last_unit_size(range_of("0", "2500"), 1000), 500u);
    EXPECT_EQ(last_unit_size(range_of("0", "2^128"), std::uint64_t{1} << 63), std::uint64_t{1} << 63);
    EXPECT_EQ(decimal_difference("340282366920938463463374607431768211456", "1"),
              "340282366920938463463374607431768211455");
    EXPECT_EQ(decimal_sum("340282366920938463463374607431768211455", "1"), "340282366920938463463374607431768211456");
    EXPECT_THROW(decimal_difference("99", "100"), std::logic_error);
    std::mt19937_64 random(20261211);
    for (int i = 0; i < 200; ++i) {
        unsigned __int128 a = (static_cast<unsigned __int128>(random() >> (i % 64)) << 63) | random();
        unsigned __int128 b = random() >> (i % 64);
        if (a < b) std::swap(a, b);
        const auto text = [](unsigned __int128 v) { return u128_to_decimal(U128{static_cast<std::uint64_t>(v),
                                                                                 static_cast<std::uint64_t>(v >> 64)}); };
        EXPECT_EQ(decimal_sum(text(a), text(b)), text(a + b)) << text(a) << " + " << text(b) << " (seed 20261211)";
        EXPECT_EQ(decimal_difference(text(a), text(b)), text(a - b)) << text(a) << " - " << text(b);
        EXPECT_EQ(decimal_compare(text(a), text(b)), a < b ? -1 : a > b ? 1 : 0) << text(a) << " vs " << text(b);
    }
    CampaignFigures c;
    c.range = range_of("0", "2500");
    c.unit_size = 1000;
    c.units = UnitCounts{0, 1, 0, 1, 1};  // open, leased, pending, validated, set aside
    c.last_unit_state = UnitState::set_aside;
    const StartsByState by_state = starts_by_state(c);
    EXPECT_EQ(by_state.validated, "1000");
    EXPECT_EQ(by_state.leased, "1000");
    EXPECT_EQ(by_state.set_aside, "500") << "the shorter last unit is the one set aside";
    EXPECT_EQ(by_state.open, "0");
    EXPECT_EQ(by_state.total, "2500");

    RequestRecord record{std::chrono::system_clock::time_point(std::chrono::milliseconds(1797256831250)),
                         "203.0.113.9", "POST", "/api/v1/leases/x y\n/complete", 200, 3.4, "w-12"};
    EXPECT_EQ(journal_line(record),
              "2026-12-14T14:00:31.250Z 203.0.113.9 POST /api/v1/leases/x%20y%0A/complete 200 3 ms w-12");
    record.worker_id = "";
    EXPECT_TRUE(journal_line(record).ends_with(" 3 ms -")) << "no worker: a dash: " << journal_line(record);
}

}  // namespace
}  // namespace pelorin::server
