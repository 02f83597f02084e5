#pragma once
// The result records simulated workers send: the true record of a unit, computed with the
// engine as the worker computes it (record-recursive, one thread), and the same with a wrong
// checksum. Records are remembered by range: many workers copy the same unit.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "state/unit_result.hpp"

namespace pelorin::loadgen {

// The backend whose record every simulated worker sends, and the rate it reports.
inline constexpr const char* kBackend = "record-recursive";
inline constexpr double kReportedStartsPerSecond = 1e9;

class UnitRecords {
public:
    // result_json of [begin, end) (decimal texts as a lease gives them). Throws the engine's
    // errors for a range it cannot take.
    const std::string& honest(const std::string& begin, const std::string& end);
    // The same record with checksum_sum changed by `spoil` (not 0), so the structure passes
    // and only the checksums are wrong.
    std::string wrong(const std::string& begin, const std::string& end, std::uint64_t spoil);

private:
    struct Verified {
        UnitResult record;
        std::string json;
    };
    const Verified& verified(const std::string& begin, const std::string& end);

    std::map<std::pair<std::string, std::string>, Verified> verified_;
};

}  // namespace pelorin::loadgen
