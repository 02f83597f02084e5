#include "server/store/stored_values.hpp"

#include <stdexcept>

#include "server/store/bound_text.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {

UnitRange range_of(const std::string& begin_text, const std::string& end_text) {
    const StoredBound begin = bound_from_text(begin_text);
    const StoredBound end = bound_from_text(end_text);
    return UnitRange{begin.value, end.value, end.is_2_128};
}

std::uint64_t parse_unit_size(const std::string& text) {
    const U128 v = parse_u128(text);
    if (v.hi != 0) throw std::runtime_error("damaged unit size in the database: " + text);
    return v.lo;
}

UnitState stored_state(const std::string& text) {
    for (UnitState s : {UnitState::open, UnitState::pending, UnitState::validated, UnitState::set_aside})
        if (text == unit_state_name(s)) return s;
    throw std::runtime_error("damaged unit state in the database: " + text);
}

}  // namespace pelorin::server
