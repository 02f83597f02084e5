#include "tools/loadgen/unit_records.hpp"

#include "engine/verify_range.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::loadgen {

const UnitRecords::Verified& UnitRecords::verified(const std::string& begin, const std::string& end) {
    const auto key = std::make_pair(begin, end);
    auto it = verified_.find(key);
    if (it == verified_.end()) {
        const EndBound e = parse_end_bound(end);
        BackendOptions options;
        options.name = kBackend;
        options.threads = 1;  // the run's own thread; the servers need the other cores
        UnitResult record = verify_range(UnitRange{parse_u128(begin), e.value, e.end_is_2_128}, options);
        std::string json = result_json(record);
        it = verified_.emplace(key, Verified{std::move(record), std::move(json)}).first;
    }
    return it->second;
}

const std::string& UnitRecords::honest(const std::string& begin, const std::string& end) {
    return verified(begin, end).json;
}

std::string UnitRecords::wrong(const std::string& begin, const std::string& end, std::uint64_t spoil) {
    UnitResult record = verified(begin, end).record;
    record.checksum_sum ^= spoil;
    return result_json(record);
}

}  // namespace pelorin::loadgen
