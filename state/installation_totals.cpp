#include "state/installation_totals.hpp"

#include <regex>

#include "state/data_folder.hpp"
#include "state/durable_file.hpp"
#include "state/flat_members.hpp"

namespace pelorin {
namespace {

constexpr const char* kFileName = "totals.json";

TotalsLoad totals_of(const FlatFileLoad& file) {
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

}  // namespace

InstallationTotals fresh_totals(std::string since) { return InstallationTotals{0, BigUint(), std::move(since)}; }

std::string totals_text(const InstallationTotals& t) {
    return "{\"units_accepted\":" + std::to_string(t.units_accepted) + ",\"starts_verified\":\"" +
           biguint_to_decimal(t.starts_verified) + "\",\"since\":\"" + t.since + "\"}\n";
}

TotalsLoad load_totals() { return totals_of(read_flat_json_file(data_folder_location() / kFileName)); }

TotalsLoad totals_from_text(std::string_view text) { return totals_of(flat_json_load(text)); }

void save_totals(const InstallationTotals& totals) {
    replace_or_throw(data_folder() / kFileName, totals_text(totals), FileAccess::shared, "this computer's totals");
}

}  // namespace pelorin
