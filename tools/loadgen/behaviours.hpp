#pragma once
// How a simulated worker behaves, and how a run's workers are shared out among behaviours.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::loadgen {

enum class Behaviour {
    honest,     // the true record of its unit
    wrong,      // a record with a wrong checksum (its own wrong value, so two never agree)
    vanishing,  // stops heartbeating halfway through its first unit and is never heard again
    duplicate,  // sends each complete twice
    slow,       // goes silent halfway through each unit and completes after the lease time-out
};
inline constexpr std::array<Behaviour, 5> kBehaviours = {Behaviour::honest, Behaviour::wrong, Behaviour::vanishing,
                                                         Behaviour::duplicate, Behaviour::slow};

const char* behaviour_name(Behaviour b);

// Shares by behaviour, in kBehaviours order; they sum to 1.
using Mix = std::array<double, kBehaviours.size()>;

// "honest=0.6,wrong=0.1,..." (names as behaviour_name; any left out have share 0; the shares
// are weights, normalised to sum 1). Throws std::invalid_argument naming what is wrong.
Mix parse_mix(std::string_view text);

// A behaviour for each of `workers` workers: the counts follow the shares as closely as whole
// workers allow (largest remainders), every behaviour with a share gets at least one worker
// when there are enough workers, and the order is shuffled by `seed`.
std::vector<Behaviour> assign_behaviours(const Mix& mix, std::size_t workers, std::uint64_t seed);

}  // namespace pelorin::loadgen
