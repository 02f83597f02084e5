#include "app/terminal_front_end.hpp"

#include <algorithm>

namespace pelorin {

std::string terminal_lines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

TerminalFrontEnd::TerminalFrontEnd(std::FILE* out, bool redraw_in_place, int profile)
    : out_(out), redraw_(redraw_in_place), profile_(profile) {}

void TerminalFrontEnd::post_status(std::string text) {
    std::lock_guard lock(mutex_);
    if (text == last_) return;
    const std::string lines = terminal_lines(text);
    if (redraw_) {
        // Back to the panel's first line, clear to the end of the screen, draw anew.
        if (lines_on_screen_ > 0) std::fprintf(out_, "\x1b[%dF", lines_on_screen_);
        std::fprintf(out_, "\x1b[J%s\n", lines.c_str());
        lines_on_screen_ = 1 + static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
    } else {
        std::fprintf(out_, "%s\n\n", lines.c_str());
    }
    std::fflush(out_);
    last_ = std::move(text);
}

}  // namespace pelorin
