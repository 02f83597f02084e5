#include "tools/loadgen/behaviours.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>

namespace pelorin::loadgen {

const char* behaviour_name(Behaviour b) {
    switch (b) {
        case Behaviour::honest: return "honest";
        case Behaviour::wrong: return "wrong";
        case Behaviour::vanishing: return "vanishing";
        case Behaviour::duplicate: return "duplicate";
        case Behaviour::slow: return "slow";
    }
    return "honest";
}

Mix parse_mix(std::string_view text) {
    Mix mix{};
    std::vector<bool> seen(kBehaviours.size(), false);
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view item = text.substr(at, comma - at);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) throw std::invalid_argument("behaviour mix: expected NAME=SHARE, got \"" + std::string(item) + "\"");
        const std::string name(item.substr(0, eq));
        const std::string value(item.substr(eq + 1));
        std::size_t i = 0;
        while (i < kBehaviours.size() && name != behaviour_name(kBehaviours[i])) ++i;
        if (i == kBehaviours.size())
            throw std::invalid_argument("behaviour mix: unknown behaviour \"" + name +
                                        "\" (honest, wrong, vanishing, duplicate, slow)");
        if (seen[i]) throw std::invalid_argument("behaviour mix: " + name + " is named twice");
        seen[i] = true;
        double share = -1;
        std::size_t used = 0;
        try {
            share = std::stod(value, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != value.size() || !(share >= 0) || !std::isfinite(share))
            throw std::invalid_argument("behaviour mix: the share of " + name + " is not a number from 0 up: \"" + value + "\"");
        mix[i] = share;
        at = comma + 1;
    }
    const double total = std::accumulate(mix.begin(), mix.end(), 0.0);
    if (!(total > 0)) throw std::invalid_argument("behaviour mix: the shares add up to 0");
    for (double& share : mix) share /= total;
    return mix;
}

std::vector<Behaviour> assign_behaviours(const Mix& mix, std::size_t workers, std::uint64_t seed) {
    const std::size_t kinds = kBehaviours.size();
    std::vector<std::size_t> count(kinds, 0);
    std::size_t given = 0;
    std::size_t wanted = 0;  // behaviours with a share
    for (std::size_t i = 0; i < kinds; ++i) {
        if (mix[i] > 0) ++wanted;
        count[i] = static_cast<std::size_t>(std::floor(mix[i] * static_cast<double>(workers)));
        // Every behaviour with a share is represented once there are enough workers.
        if (mix[i] > 0 && count[i] == 0 && workers >= wanted) count[i] = 1;
        given += count[i];
    }
    // Too many after the minimums: take from the largest; too few: the largest remainders first.
    while (given > workers) {
        const auto most = std::max_element(count.begin(), count.end());
        --*most;
        --given;
    }
    std::vector<std::size_t> order(kinds);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double ra = mix[a] * static_cast<double>(workers) - static_cast<double>(count[a]);
        const double rb = mix[b] * static_cast<double>(workers) - static_cast<double>(count[b]);
        return ra > rb;
    });
    for (std::size_t k = 0; given < workers; k = (k + 1) % kinds)
        if (mix[order[k]] > 0) {
            ++count[order[k]];
            ++given;
        }
    std::vector<Behaviour> out;
    out.reserve(workers);
    for (std::size_t i = 0; i < kinds; ++i) out.insert(out.end(), count[i], kBehaviours[i]);
    std::mt19937_64 rng(seed);
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

}  // namespace pelorin::loadgen
