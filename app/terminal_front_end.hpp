#pragma once
// The worker's front end on a terminal or a log: on a terminal the status panel is redrawn
// in place; otherwise each new text is printed once (a repeat of the last text is skipped).
#include <cstdio>
#include <mutex>
#include <string>

#include "worker/front_end.hpp"

namespace pelorin {

class TerminalFrontEnd final : public FrontEnd {
public:
    TerminalFrontEnd(std::FILE* out, bool redraw_in_place, int profile);
    void post_status(std::string text) override;
    int selected_profile() override { return profile_; }
    const std::string& last_text() const { return last_; }

private:
    std::FILE* out_;
    bool redraw_;
    int profile_;
    std::mutex mutex_;
    std::string last_;
    int lines_on_screen_ = 0;
};

// The panel's text with CR LF turned into the terminal's line feeds.
std::string terminal_lines(const std::string& status_text);

}  // namespace pelorin
