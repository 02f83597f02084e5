#include "app/main_window_win32.hpp"

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "coordinator/windows_text.hpp"
#include "state/data_folder.hpp"
#include "worker/display_text.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

std::atomic<long> live_status_texts{0};

// The class is registered once per process; its brush lives as long as the process.
void register_window_class(HINSTANCE instance, WNDPROC procedure) {
    static const bool registered = [&] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = 0;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(RGB(245, 247, 250));
        wc.lpszClassName = kWindowClassName;
        return RegisterClassExW(&wc) != 0;
    }();
    if (!registered) throw std::runtime_error("Could not register the window class");
}

HWND create_control(HWND parent, HINSTANCE instance, const wchar_t* window_class, const wchar_t* text,
                    DWORD style, int x, int y, int width, int height, int id) {
    return CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

}  // namespace

StatusMessageText::StatusMessageText(std::wstring value) : text(std::move(value)) { ++live_status_texts; }
StatusMessageText::~StatusMessageText() { --live_status_texts; }
long StatusMessageText::live_count() { return live_status_texts.load(); }

MainWindow::MainWindow(HINSTANCE instance, WorkerBody body)
    : instance_(instance),
      body_(std::move(body)),
      worker_done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      settings_(load_settings().settings),  // a missing or unusable file: the defaults
      tray_(instance) {
    if (!worker_done_) throw std::runtime_error("Could not create the worker's end event");
    pause_controls.on_battery = settings_.pause_on_battery;
    pause_controls.while_in_use = settings_.pause_while_in_use;
    pause_controls.in_use_limit_ms = std::chrono::milliseconds(std::chrono::minutes(settings_.in_use_minutes)).count();
    tip_.status = kReadyText;
    tip_.totals = load_totals().totals;
}

MainWindow::~MainWindow() {
    if (HWND window = this->window()) {
        DestroyWindow(window);
        run_message_loop();  // takes the quit message that WM_DESTROY posts, then finish()
    } else {
        finish();
    }
    if (font_) DeleteObject(font_);
    CloseHandle(worker_done_);
}

void MainWindow::create(int show_command) {
    register_window_class(instance_, window_procedure);
    HWND window = CreateWindowExW(0, kWindowClassName, L"Pelorin Community Worker",
                                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 680, 410,
                                  nullptr, nullptr, instance_, this);
    if (!window) throw std::runtime_error("Could not create the main window");
    ShowWindow(window, show_command);
    UpdateWindow(window);
}

int MainWindow::run_message_loop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    finish();
    return 0;
}

void MainWindow::finish() {
    if (worker_.joinable()) {
        worker_.request_stop();
        wait_for_worker();
    }
}

void MainWindow::post_status(std::string text) {
    // Error bodies and audit texts come from outside: their control characters are replaced.
    std::string shown = printable_text(text);
    auto message = std::make_unique<StatusMessageText>(utf8_to_utf16(shown));
    {
        std::lock_guard lock(tip_mutex_);
        tip_.status = std::move(shown);
    }
    // The lock keeps the window from going between the test and the post (the system
    // discards what is queued for a destroyed window); posting never waits for the UI
    // thread, so neither does this.
    std::lock_guard lock(post_mutex_);
    if (!window_) return;  // the window is gone: nothing shows the text any more
    // A failed post (a full queue) keeps the text here to be freed.
    if (PostMessageW(window_, kStatusMessage, 0, reinterpret_cast<LPARAM>(message.get()))) message.release();
}

int MainWindow::selected_profile() {
    // A message to a destroyed combo box fails at once and answers 0.
    return static_cast<int>(SendMessageW(profile_combo_, CB_GETCURSEL, 0, 0));
}

void MainWindow::unit_progress(const UnitPosition& unit, double starts_per_second) {
    std::lock_guard lock(tip_mutex_);
    tip_.unit_percent = unit_percent_text(unit.offset, unit.count);
    tip_.starts_per_second = starts_per_second;
}

void MainWindow::unit_accepted(const std::string& audit, const InstallationTotals& totals) {
    {
        std::lock_guard lock(tip_mutex_);
        tip_.unit_percent.reset();
        tip_.totals = totals;
    }
    FrontEnd::unit_accepted(audit, totals);  // the panel's text as it stands
}

std::string MainWindow::tray_tip() const {
    std::lock_guard lock(tip_mutex_);
    TrayTipState state = tip_;
    state.paused = running.load() && paused.load();
    // The unit's line belongs to work in progress or waiting, not to a text between units.
    const bool at_work = state.status.starts_with("WORKING") || state.status.starts_with("PAUSED") || state.paused;
    if (!at_work) state.unit_percent.reset();
    return tray_tip_text(state);
}

void MainWindow::refresh_tray_tip() { tray_.set_tip(utf8_to_utf16(tray_tip())); }

void MainWindow::show_from_tray() {
    HWND window = this->window();
    if (!window) return;
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void MainWindow::toggle_option(bool WorkerSettings::*option) {
    settings_.*option = !(settings_.*option);
    pause_controls.on_battery = settings_.pause_on_battery;
    pause_controls.while_in_use = settings_.pause_while_in_use;
    keep_settings();
}

void MainWindow::keep_settings() {
    try {
        save_settings(settings_);
    } catch (const std::exception& e) {
        // The choice holds for this run; the panel keeps the worker's texts.
        tray_.balloon(L"Pelorin Community Worker",
                      utf8_to_utf16(std::string(e.what()) + " in " + path_text(data_folder_location()) +
                                    ". The choice holds until the program ends."));
    }
}

LRESULT CALLBACK MainWindow::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wparam, lparam);
    return self->handle(window, message, wparam, lparam);
}

LRESULT MainWindow::handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            create_controls(window);
            if (!status_panel_ || !start_button_ || !pause_button_ || !profile_combo_) return -1;
            {
                std::lock_guard lock(post_mutex_);
                window_ = window;
            }
            tray_.add(window, utf8_to_utf16(tray_tip()));
            return 0;
        case WM_CLOSE:
            if (worker_.joinable()) worker_.request_stop();
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            tray_.remove();
            close_status_queue(window);
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case kStartButtonId: on_start(); break;
                case kPauseButtonId:
                case kMenuPauseId: on_pause(); break;
                case kMenuShowId: show_from_tray(); break;
                case kMenuPauseOnBatteryId: toggle_option(&WorkerSettings::pause_on_battery); break;
                case kMenuPauseWhileInUseId: toggle_option(&WorkerSettings::pause_while_in_use); break;
                // As closing the window: the chunk in progress finishes and is checkpointed.
                case kMenuExitId: PostMessageW(window, WM_CLOSE, 0, 0); break;
                case kProfileComboId:
                    // The worker reads the selection after its chunk; the choice is kept for
                    // the next start.
                    if (HIWORD(wparam) == CBN_SELCHANGE) {
                        const auto index = static_cast<int>(SendMessageW(profile_combo_, CB_GETCURSEL, 0, 0));
                        if (index >= 0 && index != settings_.profile) {
                            settings_.profile = index;
                            keep_settings();
                        }
                    }
                    break;
                default: break;
            }
            refresh_tray_tip();
            return 0;
        case kStatusMessage: {
            std::unique_ptr<StatusMessageText> text(reinterpret_cast<StatusMessageText*>(lparam));
            if (text) SetWindowTextW(status_panel_, text->text.c_str());
            refresh_tray_tip();
            return 0;
        }
        case kTrayMessage:
            switch (LOWORD(lparam)) {
                case WM_LBUTTONUP:
                case WM_LBUTTONDBLCLK: show_from_tray(); break;
                case WM_RBUTTONUP:
                case WM_CONTEXTMENU:
                    open_tray_menu(window, TrayMenuState{running.load(), paused.load(), settings_.pause_on_battery,
                                                         settings_.pause_while_in_use});
                    break;
                default: break;
            }
            return 0;
        case WM_SIZE:
            // Minimized, the window waits in the notification area; without an icon there it
            // stays on the taskbar, or nothing would bring it back.
            if (wparam == SIZE_MINIMIZED && tray_.shown()) ShowWindow(window, SW_HIDE);
            return DefWindowProcW(window, message, wparam, lparam);
        default:
            if (message == tray_.taskbar_created() && message != 0) {
                tray_.add(window, utf8_to_utf16(tray_tip()));
                return 0;
            }
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

void MainWindow::create_controls(HWND window) {
    font_ = CreateFontW(19, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
    create_control(window, instance_, L"STATIC", L"PELORIN COMMUNITY WORKER", 0, 28, 22, 600, 28, 0);
    status_panel_ = create_control(window, instance_, L"STATIC", utf8_to_utf16(kReadyText).c_str(), 0, 28, 72, 610,
                                   220, 0);
    start_button_ =
        create_control(window, instance_, L"BUTTON", L"Start", BS_DEFPUSHBUTTON, 28, 315, 130, 40, kStartButtonId);
    pause_button_ =
        create_control(window, instance_, L"BUTTON", L"Pause", BS_PUSHBUTTON, 170, 315, 130, 40, kPauseButtonId);
    profile_combo_ =
        create_control(window, instance_, L"ComboBox", L"", CBS_DROPDOWNLIST, 390, 315, 240, 160, kProfileComboId);
    if (!profile_combo_) return;
    for (const wchar_t* item : {L"Balanced - 85%", L"Maximum - 100%", L"Quiet - 50%"})
        SendMessageW(profile_combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(profile_combo_, CB_SETCURSEL, static_cast<WPARAM>(settings_.profile), 0);
    for (HWND control : {status_panel_, start_button_, pause_button_, profile_combo_})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

void MainWindow::on_start() {
    if (running.exchange(true)) return;
    paused = false;
    SetWindowTextW(pause_button_, L"Pause");
    if (worker_.joinable()) {
        // The previous run ended with a failure and is returning, so this wait is short.
        worker_.request_stop();
        wait_for_worker();
    }
    ResetEvent(worker_done_);
    worker_ = std::jthread([this](std::stop_token stop) {
        body_(stop, *this);
        SetEvent(worker_done_);
    });
    SetWindowTextW(start_button_, L"Running");
}

void MainWindow::on_pause() {
    if (!running) return;
    bool was_paused = paused.load();
    while (!paused.compare_exchange_weak(was_paused, !was_paused)) {
    }
    SetWindowTextW(pause_button_, was_paused ? L"Pause" : L"Resume");
}

void MainWindow::wait_for_worker() {
    // The worker may be asking this thread for the profile: keep answering sent messages
    // until it ends, or the two threads would wait on each other.
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &worker_done_, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woke != WAIT_OBJECT_0 + 1) break;  // the worker is done (or waiting failed)
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    worker_.join();
}

void MainWindow::close_status_queue(HWND window) {
    {
        std::lock_guard lock(post_mutex_);
        window_ = nullptr;
    }
    // Texts still queued would be discarded with the window, unfreed.
    MSG msg;
    while (PeekMessageW(&msg, window, kStatusMessage, kStatusMessage, PM_REMOVE))
        delete reinterpret_cast<StatusMessageText*>(msg.lParam);
}

}  // namespace pelorin
