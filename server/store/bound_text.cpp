#include "server/store/bound_text.hpp"

#include <stdexcept>

#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server {
namespace {

// 2^128 has 39 digits.
constexpr std::size_t kDigits = 39;

}  // namespace

std::string bound_text(U128 value, bool is_2_128) {
    std::string digits = end_to_decimal(value, is_2_128);
    return std::string(kDigits - digits.size(), '0') + digits;
}

StoredBound bound_from_text(std::string_view text) {
    if (text.size() != kDigits || text.find_first_not_of("0123456789") != std::string_view::npos)
        throw std::runtime_error("damaged bound in the database: " + std::string(text));
    const EndBound bound = parse_end_bound(text);
    return StoredBound{bound.value, bound.end_is_2_128};
}

}  // namespace pelorin::server
