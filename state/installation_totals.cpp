#include "state/installation_totals.hpp"

#include <chrono>
#include <ctime>
#include <regex>
#include <stdexcept>

#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/flat_members.hpp"

namespace pelorin {
namespace {

constexpr const char* kFileName = "totals.json";

std::string utc_day_today() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d", &utc));
}

}  // namespace

InstallationTotals fresh_totals() { return InstallationTotals{0, BigUint(), utc_day_today()}; }

std::string totals_text(const InstallationTotals& t) {
    return "{\"units_accepted\":" + std::to_string(t.units_accepted) + ",\"starts_verified\":\"" +
           biguint_to_decimal(t.starts_verified) + "\",\"since\":\"" + t.since + "\"}\n";
}

TotalsLoad load_totals() {
    const FlatFileLoad file = read_flat_json_file(data_folder_location() / kFileName);
    if (!file.members) return TotalsLoad{std::nullopt, file.unusable};
    try {
        const FlatMembers m(*file.members);
        InstallationTotals t;
        t.units_accepted = m.number("units_accepted");
        t.starts_verified = m.counter("starts_verified");
        t.since = m.text("since");
        static const std::regex day(R"(\d{4}-\d\d-\d\d)");
        if (!std::regex_match(t.since, day)) throw NotFlatObject("its since is not a day (YYYY-MM-DD)");
        return TotalsLoad{std::move(t), {}};
    } catch (const NotFlatObject& e) {
        return TotalsLoad{std::nullopt, e.what()};
    }
}

void save_totals(const InstallationTotals& totals) {
    switch (write_replacing(data_folder() / kFileName, totals_text(totals), FileAccess::shared)) {
        case DurableWrite::done: return;
        case DurableWrite::not_written: throw std::runtime_error("Could not write this computer's totals");
        case DurableWrite::not_committed: throw std::runtime_error("Could not commit this computer's totals");
    }
}

}  // namespace pelorin
