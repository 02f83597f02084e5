#include "app/tray_tip.hpp"

#include "worker/status_text.hpp"

namespace pelorin {
namespace {

// Characters as the icon counts them (UTF-16 units; the texts here stay in the BMP).
std::size_t units_of(const std::string& utf8) {
    std::size_t n = 0;
    for (const unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

// The first `units` characters of a UTF-8 text.
std::string cut(const std::string& utf8, std::size_t units) {
    std::size_t at = 0, n = 0;
    while (at < utf8.size() && n < units) {
        ++at;
        while (at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80) ++at;
        ++n;
    }
    return utf8.substr(0, at);
}

// Beyond this a state line says less than it costs: the panel shows it whole.
constexpr std::size_t kStateLineLimit = 48;

}  // namespace

std::string tray_tip_text(const TrayTipState& s) {
    std::string state = s.paused ? "Paused" : s.status.substr(0, s.status.find("\r\n"));
    if (units_of(state) > kStateLineLimit) {
        // Its first sentence when that fits ("Ready."), else as much as fits.
        const auto sentence = state.find(". ");
        state = sentence != std::string::npos && units_of(state.substr(0, sentence + 1)) <= kStateLineLimit
                    ? state.substr(0, sentence + 1)
                    : cut(state, kStateLineLimit - 1) + "\xE2\x80\xA6";
    }
    std::string tip = state;
    const auto add = [&](const std::string& line) {
        if (units_of(tip) + 1 + units_of(line) <= kTrayTipLimit) tip += "\n" + line;
    };
    if (s.unit_percent) add("Unit " + *s.unit_percent + kDot + format_rate(s.starts_per_second) + " starts/s");
    if (s.totals) {
        add("This computer: " + std::to_string(s.totals->units_accepted) +
            (s.totals->units_accepted == 1 ? " unit" : " units") + kDot +
            format_rate(s.totals->starts_verified.to_double()) + " starts");
    }
    return tip;
}

}  // namespace pelorin
