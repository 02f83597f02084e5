#pragma once
// What a worker run needs from the program that shows it (the window, or the terminal): a
// status sink, the work-profile query, and the two flags the user's controls set. The stop
// request travels separately as a std::stop_token.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "state/installation_totals.hpp"
#include "worker/pause_rules.hpp"

namespace pelorin {

// Where the unit in progress stands.
struct UnitPosition {
    std::string begin;  // the unit's range as decimal texts, end exclusive
    std::string end;
    std::uint64_t offset = 0;  // starts verified and checkpointed
    std::uint64_t count = 0;   // starts in the unit
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The text replaces the whole status panel. Returns at once; never waits on the display.
    virtual void post_status(std::string text) = 0;
    // Index of the chosen work profile: 0 balanced, 1 maximum, anything else quiet.
    virtual int selected_profile() = 0;

    // Moments the window's panel does not show (its texts are fixed), for front ends that say
    // more, such as a terminal or a journal. By default they show nothing.
    // A pause took hold between two chunks of a unit, and later let go.
    virtual void unit_paused(const UnitPosition&) {}
    virtual void unit_resumed(const UnitPosition&) {}
    // After each chunk, before its progress text: where the unit stands and this run's rate.
    virtual void unit_progress(const UnitPosition&, double /*starts_per_second*/) {}
    // The coordinator accepted a unit; `totals` are this installation's with it counted. The
    // window shows the accepted text as it stands; others may show the totals beside it.
    virtual void unit_accepted(const std::string& audit, const InstallationTotals& totals);
    // The run ends on a stop request: `unit` is where the unit in progress stands, its
    // checkpoint saved; absent when no unit was in progress.
    virtual void run_stopped(const std::optional<UnitPosition>&) {}

    std::atomic<bool> paused{false};   // set and cleared by the user; read between chunks
    std::atomic<bool> running{false};  // set by Start; the run clears it when it fails
    // The opt-in pauses for the computer's owner (on battery power, while in use); read
    // between chunks.
    PauseControls pause_controls;
};

}  // namespace pelorin
