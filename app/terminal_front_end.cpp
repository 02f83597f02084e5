#include "app/terminal_front_end.hpp"

#include <algorithm>
#include <cstdio>

#include "worker/display_text.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

// "42.17% of unit [b, e)"
std::string where(const UnitPosition& unit) {
    return unit_percent_text(unit.offset, unit.count) + " of unit [" + unit.begin + ", " + unit.end + ")";
}

}  // namespace

std::string terminal_lines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

std::string terminal_wording(std::string text) {
    static const std::pair<std::string_view, std::string_view> kWords[] = {
        {"Close the window to checkpoint and stop.", "Press Ctrl-C to checkpoint and stop."},
        {"Press Start to retry.", "Run it again to retry."},
    };
    for (const auto& [window, terminal] : kWords)
        for (auto at = text.find(window); at != std::string::npos; at = text.find(window, at + terminal.size()))
            text.replace(at, window.size(), terminal);
    return text;
}

std::string journal_line(const std::string& text, TerminalFrontEnd::Clock::time_point at) {
    std::string line = utc_time_text(at, "%Y-%m-%dT%H:%M:%SZ");
    bool first = true;
    for (std::size_t start = 0; start <= text.size();) {
        const auto end = std::min(text.find("\r\n", start), text.size());
        std::string part;
        for (std::size_t i = start; i < end; ++i)
            if (text[i] != ' ' || (!part.empty() && part.back() != ' ')) part.push_back(text[i]);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (!part.empty()) {
            line += first ? " " : " | ";
            line += part;
            first = false;
        }
        start = end + 2;
    }
    return line;
}

std::string unit_paused_text(const UnitPosition& unit, const std::string& resume_hint) {
    return "PAUSED at " + where(unit) + "." + (resume_hint.empty() ? "" : " " + resume_hint);
}

std::string unit_resumed_text(const UnitPosition& unit) { return "RESUMED at " + where(unit) + "."; }

std::string run_stopped_text(const std::optional<UnitPosition>& unit) {
    if (!unit) return "Stopped; no unit in progress.";
    return "Stopped at " + where(*unit) + "; checkpoint saved.";
}

TerminalFrontEnd::TerminalFrontEnd(std::FILE* out, bool redraw_in_place, int profile, std::string resume_hint)
    : out_(out), redraw_(redraw_in_place), profile_(profile), resume_hint_(std::move(resume_hint)) {}

void TerminalFrontEnd::post_status(std::string text) {
    const bool is_progress = text.rfind("WORKING", 0) == 0;
    // On a pipe the progress text's last line speaks to someone at the keyboard.
    show(terminal_wording(std::move(text)), is_progress);
}

void TerminalFrontEnd::unit_paused(const UnitPosition& unit) { show(unit_paused_text(unit, resume_hint_), false); }

void TerminalFrontEnd::unit_resumed(const UnitPosition& unit) { show(unit_resumed_text(unit), false); }

void TerminalFrontEnd::unit_accepted(const std::string& audit, const InstallationTotals& totals) {
    post_status(unit_accepted_text(audit) + "\r\n" +
                installation_totals_text(totals.units_accepted, biguint_to_decimal(totals.starts_verified), totals.since));
}

void TerminalFrontEnd::run_stopped(const std::optional<UnitPosition>& unit) { show(run_stopped_text(unit), false); }

void TerminalFrontEnd::show(const std::string& raw, bool is_progress) {
    const std::string text = printable_text(raw);
    std::lock_guard lock(mutex_);
    if (text == last_) return;
    if (redraw_) {
        const std::string lines = terminal_lines(text);
        // Back to the panel's first line, clear to the end of the screen, draw anew.
        if (lines_on_screen_ > 0) std::fprintf(out_, "\x1b[%dF", lines_on_screen_);
        std::fprintf(out_, "\x1b[J%s\n", lines.c_str());
        lines_on_screen_ = 1 + static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
    } else {
        const Clock::time_point now = now_();
        // A progress line right after another waits its turn; after any other line it comes
        // at once, so the journal always shows where work stands after a change.
        if (is_progress && last_was_progress_ && now - last_progress_line_ < kJournalProgressInterval) return;
        std::string line = journal_line(text, now);
        if (is_progress) {
            // The keyboard hint means nothing in a journal.
            const std::string hint = " | Press Ctrl-C to checkpoint and stop.";
            if (line.ends_with(hint)) line.resize(line.size() - hint.size());
            last_progress_line_ = now;
        }
        last_was_progress_ = is_progress;
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
    last_ = text;
}

}  // namespace pelorin
