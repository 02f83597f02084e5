// settings.json and totals.json on any file bytes. Loading never throws: a file is used whole,
// or refused with a reason and the defaults (settings) or nothing (totals). What is used, once
// written again, loads back to the same text.
#include <stdexcept>
#include <string>

#include "state/installation_totals.hpp"
#include "state/worker_settings.hpp"
#include "tests/fuzz/fuzz_check.hpp"

using namespace pelorin;
using namespace pelorin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = as_text(data, size);
    try {
        const SettingsLoad settings = settings_from_text(text);
        if (settings.unusable.empty()) {
            const std::string written = settings_text(settings.settings);
            const SettingsLoad again = settings_from_text(written);
            expect(again.unusable.empty() && settings_text(again.settings) == written, "settings load back the same",
                   written);
            expect(settings.settings.profile >= 0 && settings.settings.profile <= 2, "a profile of the three", written);
            expect(settings.settings.in_use_minutes >= 1 && settings.settings.in_use_minutes <= 1440,
                   "in-use minutes within a day", written);
        } else {
            expect(settings_text(settings.settings) == settings_text(WorkerSettings{}), "refused: the defaults", text);
        }
        const TotalsLoad totals = totals_from_text(text);
        expect(totals.totals.has_value() != !totals.unusable.empty(), "totals used or refused with a reason", text);
        if (totals.totals) {
            const std::string written = totals_text(*totals.totals);
            const TotalsLoad again = totals_from_text(written);
            expect(again.totals && totals_text(*again.totals) == written, "totals load back the same", written);
        }
    } catch (const std::exception& e) {
        broken("a settings or totals file throws", e.what());
    }
    return 0;
}
