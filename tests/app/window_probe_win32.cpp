// window-probe.exe: reads and presses the worker's window from another process, through the
// window's own messages (the GUI test's eyes and hands). Texts are printed as UTF-8 with
// line feeds; times as Unix nanoseconds.
//
//   window-probe wait-window SECONDS           until the main window exists
//   window-probe text CONTROL                  print the control's text
//   window-probe wait-text CONTROL TEXT SECONDS [UNLESS]
//                                              until the control's text contains TEXT; print it.
//                                              A text that begins with UNLESS fails at once.
//   window-probe click CONTROL                 press a button (BM_CLICK)
//   window-probe wait-steady CONTROL SECONDS LIMIT  until the text has stood still for SECONDS
//   window-probe select-profile INDEX          select a work profile (CB_SETCURSEL)
//   window-probe close-on-change SECONDS AFTER when the status text next changes, wait AFTER seconds
//                                              and close the window (WM_CLOSE); print "closed <time>",
//                                              then "gone <time>" once the window no longer exists
//   window-probe close-on-change SECONDS AFTER exit
//                                              the same through the notification menu's Exit
//   window-probe tray-menu SECONDS             open the notification icon's menu through the icon's
//                                              message (a right click) and wait until it shows
//   window-probe close-menu SECONDS            close the open menu (Escape) and wait until it is gone
//   window-probe command NAME                  a menu command: show, pause, battery, in-use, exit
//   window-probe windows                       print every top-level window: class, visible or hidden, title
//   window-probe visible                       print whether the window is visible or hidden
//   window-probe minimize                      minimize the window (SW_MINIMIZE)
//   window-probe dpi-awareness                 print the window's DPI awareness as its manifest set it:
//                                              unaware, system or per-monitor (per-monitor v2 included)
//
// CONTROL: header, status, start, pause, profile. Exit status: 0 done, 1 not found in time or
// the window did not answer, 2 bad arguments.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr const wchar_t* kWindowClass = L"PelorinCommunityWorkerWindow";
constexpr UINT kAnswerMs = 5000;
// The window's notification icon: its message, and the menu's commands.
constexpr UINT kTrayMessage = WM_APP + 2;
constexpr int kMenuShow = 2001, kMenuPause = 2002, kMenuPauseOnBattery = 2003, kMenuPauseWhileInUse = 2004,
              kMenuExit = 2005;  // a window that does not answer a message in this time is hung

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    std::string lines;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) lines.push_back(out[i]);
    return lines;
}

[[noreturn]] void fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "window-probe: %s\n", message.c_str());
    std::exit(status);
}

long long unix_time_ns() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000LL) * 100;  // 100 ns ticks since 1601
}

double seconds_arg(const wchar_t* text) {
    wchar_t* end = nullptr;
    const double value = std::wcstod(text, &end);
    if (end == text || *end != L'\0' || value < 0) fail("bad number of seconds: " + utf8(text), 2);
    return value;
}

HWND main_window() { return FindWindowW(kWindowClass, nullptr); }

// Polls `find` every 10 ms until it gives a value or the time is up.
template <typename Find>
auto wait_for(double seconds, Find find) -> decltype(find()) {
    const ULONGLONG give_up = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (auto found = find()) return found;
        if (GetTickCount64() > give_up) return {};
        Sleep(10);
    }
}

HWND control(HWND window, const std::wstring& name) {
    if (name == L"start") return GetDlgItem(window, 1001);
    if (name == L"pause") return GetDlgItem(window, 1002);
    if (name == L"profile") return GetDlgItem(window, 1003);
    // The header and the status panel both have id 0: they are the first and second static text.
    if (name == L"header" || name == L"status") {
        HWND first = FindWindowExW(window, nullptr, L"Static", nullptr);
        return name == L"header" || !first ? first : FindWindowExW(window, first, L"Static", nullptr);
    }
    fail("unknown control: " + utf8(name), 2);
}

int menu_command(const std::wstring& name) {
    if (name == L"show") return kMenuShow;
    if (name == L"pause") return kMenuPause;
    if (name == L"battery") return kMenuPauseOnBattery;
    if (name == L"in-use") return kMenuPauseWhileInUse;
    if (name == L"exit") return kMenuExit;
    fail("unknown menu command: " + utf8(name), 2);
}

// The open popup menu (the system's menu class), if any.
HWND open_menu() {
    HWND menu = FindWindowW(L"#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

HWND existing_window() {
    HWND window = main_window();
    if (!window) fail("no window of class PelorinCommunityWorkerWindow");
    return window;
}

HWND existing_control(const std::wstring& name) {
    HWND window = main_window();
    if (!window) fail("no window of class PelorinCommunityWorkerWindow");
    HWND found = control(window, name);
    if (!found) fail("the window has no control " + utf8(name));
    return found;
}

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kAnswerMs, &result))
        fail("the window did not answer message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

// Empty when the control is gone (the window closed meanwhile).
std::optional<std::wstring> text_of(HWND control) {
    if (!IsWindow(control)) return std::nullopt;
    const auto length = static_cast<std::size_t>(send(control, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<std::size_t>(send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(copied);
    return text;
}

void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) fail("usage: window-probe COMMAND [ARGUMENTS]", 2);
    const std::wstring command = argv[1];
    const auto want_args = [&](int n) {
        if (argc != 2 + n) fail("wrong number of arguments for " + utf8(command), 2);
    };

    if (command == L"wait-window") {
        want_args(1);
        if (!wait_for(seconds_arg(argv[2]), main_window)) fail("no window of class PelorinCommunityWorkerWindow");
    } else if (command == L"text") {
        want_args(1);
        const auto text = text_of(existing_control(argv[2]));
        if (!text) fail("the window went away");
        print(utf8(*text));
    } else if (command == L"wait-text") {
        if (argc != 5 && argc != 6) want_args(3);
        HWND target = existing_control(argv[2]);
        const std::wstring wanted = argv[3];
        const std::wstring unless = argc == 6 ? argv[5] : L"";
        std::wstring last;
        const auto found = wait_for(seconds_arg(argv[4]), [&]() -> std::optional<std::wstring> {
            const auto text = text_of(target);
            if (!text) fail("the window went away; its last text: " + utf8(last));
            last = *text;
            if (!unless.empty() && text->starts_with(unless)) fail("the " + utf8(argv[2]) + " text shows: " + utf8(*text));
            if (text->find(wanted) == std::wstring::npos) return std::nullopt;
            return text;
        });
        if (!found) fail("no \"" + utf8(wanted) + "\" in the " + utf8(argv[2]) + " text in time; it shows: " + utf8(last));
        print(utf8(*found));
    } else if (command == L"wait-steady") {
        want_args(3);
        HWND target = existing_control(argv[2]);
        const auto steady_ms = static_cast<ULONGLONG>(seconds_arg(argv[3]) * 1000);
        auto last = text_of(target);
        ULONGLONG since = GetTickCount64();
        const bool steady = wait_for(seconds_arg(argv[4]), [&] {
            const auto now = text_of(target);
            if (!now) fail("the window went away");
            if (now != last) {
                last = now;
                since = GetTickCount64();
            }
            return GetTickCount64() - since >= steady_ms;
        });
        if (!steady) fail("the " + utf8(argv[2]) + " text did not stand still; it shows: " + utf8(*last));
    } else if (command == L"click") {
        want_args(1);
        send(existing_control(argv[2]), BM_CLICK, 0, 0);
    } else if (command == L"select-profile") {
        want_args(1);
        const int index = _wtoi(argv[2]);
        if (send(existing_control(L"profile"), CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index)
            fail("no profile " + utf8(argv[2]));
    } else if (command == L"close-on-change") {
        if (argc != 5) want_args(2);
        const bool by_menu = argc == 5 && std::wstring(argv[4]) == L"exit";
        const double seconds = seconds_arg(argv[2]);
        const double after = seconds_arg(argv[3]);
        HWND window = main_window();
        HWND status = existing_control(L"status");
        const auto before = text_of(status);
        const bool changed = wait_for(seconds, [&] {
            const auto now = text_of(status);
            return !now || now != before;
        });
        if (!changed) fail("the status text did not change in time");
        Sleep(static_cast<DWORD>(after * 1000));
        if (!(by_menu ? PostMessageW(window, WM_COMMAND, kMenuExit, 0) : PostMessageW(window, WM_CLOSE, 0, 0)))
            fail("could not post the close");
        print("closed " + std::to_string(unix_time_ns()));
        if (!wait_for(seconds, [&] { return !IsWindow(window); })) fail("the window did not go away");
        print("gone " + std::to_string(unix_time_ns()));
    } else if (command == L"tray-menu") {
        want_args(1);
        // The icon reports a right click to its window with the mouse message in lParam.
        if (!PostMessageW(existing_window(), kTrayMessage, 1, WM_RBUTTONUP)) fail("could not post the icon's message");
        if (!wait_for(seconds_arg(argv[2]), open_menu)) fail("no menu appeared");
    } else if (command == L"close-menu") {
        want_args(1);
        HWND menu = open_menu();
        if (!menu) fail("no menu is open");
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        if (!wait_for(seconds_arg(argv[2]), [] { return open_menu() == nullptr; })) fail("the menu did not close");
    } else if (command == L"command") {
        want_args(1);
        if (!PostMessageW(existing_window(), WM_COMMAND, static_cast<WPARAM>(menu_command(argv[2])), 0))
            fail("could not post the command");
    } else if (command == L"windows") {
        want_args(0);
        EnumWindows(
            [](HWND window, LPARAM) -> BOOL {
                wchar_t name[256] = {}, title[256] = {};
                GetClassNameW(window, name, 256);
                GetWindowTextW(window, title, 256);
                RECT r{};
                GetWindowRect(window, &r);
                print(utf8(name) + (IsWindowVisible(window) ? " visible " : " hidden ") + std::to_string(r.left) + "," +
                      std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
                      std::to_string(r.bottom - r.top) + " " + utf8(title));
                return TRUE;
            },
            0);
    } else if (command == L"visible") {
        want_args(0);
        print(IsWindowVisible(existing_window()) ? "visible" : "hidden");
    } else if (command == L"minimize") {
        want_args(0);
        ShowWindowAsync(existing_window(), SW_MINIMIZE);
    } else if (command == L"dpi-awareness") {
        want_args(0);
        HWND window = main_window();
        if (!window) fail("no window of class PelorinCommunityWorkerWindow");
        switch (GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window))) {
            case DPI_AWARENESS_UNAWARE: print("unaware"); break;
            case DPI_AWARENESS_SYSTEM_AWARE: print("system"); break;
            case DPI_AWARENESS_PER_MONITOR_AWARE: print("per-monitor"); break;
            default: fail("the window's DPI awareness is unknown");
        }
    } else {
        fail("unknown command: " + utf8(command), 2);
    }
    return 0;
}
