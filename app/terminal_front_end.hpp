#pragma once
// The worker's front end on a terminal, a pipe or a journal.
// - On a terminal the status panel is redrawn in place.
// - Elsewhere (a pipe, a file, the system journal) each entry is one line with a UTC
//   timestamp: every change of state at once, progress at most once a minute.
// Either way the window's words become the terminal's ("Press Ctrl-C to checkpoint and
// stop.", "Run it again to retry."), a pause inside a unit and a stop get lines of their own,
// and control characters from outside are replaced.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "worker/front_end.hpp"

namespace pelorin {

class TerminalFrontEnd final : public FrontEnd {
public:
    using Clock = std::chrono::system_clock;

    // `resume_hint` ends the PAUSED line: how to resume (empty where there is no pause control).
    TerminalFrontEnd(std::FILE* out, bool redraw_in_place, int profile, std::string resume_hint = {});
    void post_status(std::string text) override;
    int selected_profile() override { return profile_; }
    void unit_paused(const UnitPosition& unit) override;
    void unit_resumed(const UnitPosition& unit) override;
    // The accepted text with this computer's totals as its last line.
    void unit_accepted(const std::string& audit, const InstallationTotals& totals) override;
    void run_stopped(const std::optional<UnitPosition>& unit) override;

    // The time stamped on journal lines and used to space progress lines (tests set it).
    void set_clock(Clock::time_point (*now)()) { now_ = now; }

private:
    void show(const std::string& text, bool is_progress);

    std::FILE* out_;
    bool redraw_;
    int profile_;
    std::string resume_hint_;
    Clock::time_point (*now_)() = &Clock::now;
    std::mutex mutex_;
    std::string last_;
    int lines_on_screen_ = 0;
    bool last_was_progress_ = false;
    Clock::time_point last_progress_line_{};
};

// Progress lines on a pipe or journal come at most this often; every other line at once.
inline constexpr std::chrono::seconds kJournalProgressInterval{60};

// The panel's text with CR LF turned into the terminal's line feeds.
std::string terminal_lines(const std::string& status_text);

// The window's instructions in the terminal's words.
std::string terminal_wording(std::string status_text);

// One journal entry: "2026-12-10T14:15:05Z " and the text's non-empty lines joined by " | ",
// runs of blanks folded to one.
std::string journal_line(const std::string& status_text, TerminalFrontEnd::Clock::time_point at);

// "Stopped at 42.17% of unit [b, e); checkpoint saved." and the PAUSED / RESUMED lines.
std::string unit_paused_text(const UnitPosition& unit, const std::string& resume_hint);
std::string unit_resumed_text(const UnitPosition& unit);
std::string run_stopped_text(const std::optional<UnitPosition>& unit);

}  // namespace pelorin
