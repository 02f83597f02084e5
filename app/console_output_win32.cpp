#include <windows.h>
#include <io.h>

#include "app/console_output.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace pelorin {

struct ConsoleOutput::Saved {
    HANDLE console = INVALID_HANDLE_VALUE;
    UINT code_page = 0;
    DWORD mode = 0;
};

ConsoleOutput::ConsoleOutput(std::FILE* out) {
    if (_isatty(_fileno(out)) == 0) return;  // a file or a pipe takes the UTF-8 bytes as they are
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return;
    saved_ = std::make_unique<Saved>(Saved{console, GetConsoleOutputCP(), mode});
    SetConsoleOutputCP(CP_UTF8);
    // The console redraws in place only when it interprets the cursor movements (Windows 10 on).
    redraw_ = SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

ConsoleOutput::~ConsoleOutput() {
    if (!saved_) return;
    // The console outlives this program; leave it as it was found.
    SetConsoleMode(saved_->console, saved_->mode);
    if (saved_->code_page != 0) SetConsoleOutputCP(saved_->code_page);
}

}  // namespace pelorin
