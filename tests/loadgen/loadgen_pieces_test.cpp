// The load tool's pieces: the behaviour mix as typed, the workers shared out among the
// behaviours, and the percentiles of the figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "tools/loadgen/behaviours.hpp"
#include "tools/loadgen/latency_figures.hpp"

namespace pelorin::loadgen {
namespace {

TEST(LoadgenMix, SharesAreReadAndNormalisedAndBadTextIsNamed) {
    const struct {
        const char* text;
        Mix want;
    } good[] = {
        {"honest=1", {1, 0, 0, 0, 0}},
        {"honest=3,slow=1", {0.75, 0, 0, 0, 0.25}},
        {"slow=0.2,duplicate=0.2,vanishing=0.2,wrong=0.2,honest=0.2", {0.2, 0.2, 0.2, 0.2, 0.2}},
        {"wrong=0,honest=2", {1, 0, 0, 0, 0}},
    };
    for (const auto& c : good) {
        const Mix got = parse_mix(c.text);
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], c.want[i]) << c.text << " share " << i;
    }
    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"", "behaviour mix: expected NAME=SHARE, got \"\""},
        {"honest=1,", "behaviour mix: expected NAME=SHARE, got \"\""},
        {"honest", "behaviour mix: expected NAME=SHARE, got \"honest\""},
        {"lazy=1", "behaviour mix: unknown behaviour \"lazy\" (honest, wrong, vanishing, duplicate, slow)"},
        {"honest=1,honest=2", "behaviour mix: honest is named twice"},
        {"honest=-1", "behaviour mix: the share of honest is not a number from 0 up: \"-1\""},
        {"honest=1x", "behaviour mix: the share of honest is not a number from 0 up: \"1x\""},
        {"honest=nan", "behaviour mix: the share of honest is not a number from 0 up: \"nan\""},
        {"honest=inf", "behaviour mix: the share of honest is not a number from 0 up: \"inf\""},
        {"honest=0,slow=0", "behaviour mix: the shares add up to 0"},
    };
    for (const auto& c : bad) {
        try {
            parse_mix(c.text);
            ADD_FAILURE() << c.text << " was taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.text;
        }
    }
}

// Largest remainders by hand: floors first, then one more to the largest remainders.
std::map<Behaviour, std::size_t> reference_counts(const Mix& mix, std::size_t workers) {
    std::map<Behaviour, std::size_t> out;
    std::vector<std::pair<double, std::size_t>> remainders;
    std::size_t given = 0;
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const double exact = mix[i] * static_cast<double>(workers);
        out[kBehaviours[i]] = static_cast<std::size_t>(std::floor(exact));
        given += out[kBehaviours[i]];
        remainders.emplace_back(exact - std::floor(exact), i);
    }
    std::stable_sort(remainders.begin(), remainders.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t k = 0; given < workers; ++k, ++given) ++out[kBehaviours[remainders[k].second]];
    return out;
}

TEST(LoadgenMix, WorkersAreSharedOutByTheShares) {
    const struct {
        const char* mix;
        std::size_t workers;
    } cases[] = {
        {"honest=1", 7},
        {"honest=0.5,wrong=0.1,vanishing=0.1,duplicate=0.15,slow=0.15", 200},
        {"honest=0.5,wrong=0.1,vanishing=0.1,duplicate=0.15,slow=0.15", 33},
        {"honest=1,slow=1,wrong=1", 10},
        {"honest=0.7,wrong=0.3", 10000},
    };
    for (const auto& c : cases) {
        const Mix mix = parse_mix(c.mix);
        const std::vector<Behaviour> got = assign_behaviours(mix, c.workers, 17);
        ASSERT_EQ(got.size(), c.workers) << c.mix;
        std::map<Behaviour, std::size_t> counts;
        for (Behaviour b : got) ++counts[b];
        const auto want = reference_counts(mix, c.workers);
        for (Behaviour b : kBehaviours)
            EXPECT_EQ(counts[b], want.at(b)) << c.mix << " with " << c.workers << " workers: " << behaviour_name(b);
        EXPECT_EQ(assign_behaviours(mix, c.workers, 17), got) << c.mix << ": the same seed, another order";
    }
    // A share too small for its floor still gets one worker once there are enough of them.
    const std::vector<Behaviour> few = assign_behaviours(parse_mix("honest=0.98,wrong=0.01,slow=0.01"), 10, 1);
    EXPECT_EQ(std::count(few.begin(), few.end(), Behaviour::wrong), 1);
    EXPECT_EQ(std::count(few.begin(), few.end(), Behaviour::slow), 1);
    EXPECT_EQ(std::count(few.begin(), few.end(), Behaviour::honest), 8);
}

TEST(LoadgenFigures, PercentilesAreTheNearestRank) {
    std::mt19937_64 rng(5);
    for (std::size_t n : {1u, 2u, 3u, 10u, 99u, 100u, 101u, 1000u}) {
        std::vector<double> values(n);
        for (double& v : values) v = static_cast<double>(rng() % 1000) / 7.0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        for (double p : {50.0, 99.0, 100.0}) {
            // The smallest value with at least p% of the values at or below it.
            std::size_t rank = 1;
            while (100.0 * static_cast<double>(rank) < p * static_cast<double>(n)) ++rank;
            std::vector<double> copy = values;
            EXPECT_EQ(percentile(copy, p), sorted[rank - 1]) << "n " << n << " p " << p << " seed 5";
        }
    }
    std::vector<double> none;
    EXPECT_EQ(percentile(none, 50), 0);
}

}  // namespace
}  // namespace pelorin::loadgen
