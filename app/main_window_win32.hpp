#pragma once
// The program's one window: header, status panel, Start, Pause and the work profile. It is
// the worker's front end: status texts arrive as posted window messages, the profile is
// answered on the UI thread, and closing the window stops the worker after its chunk.
// Beside it, an icon in the notification area: its tooltip shows the state, the unit and this
// computer's totals; its menu shows the window, pauses and resumes, sets the two opt-in
// pauses and exits as closing does; minimizing hides the window there. The profile and the
// two options are kept in settings.json.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "app/tray_icon_win32.hpp"
#include "app/tray_tip.hpp"
#include "state/worker_settings.hpp"
#include "worker/front_end.hpp"

namespace pelorin {

inline constexpr const wchar_t* kWindowClassName = L"PelorinCommunityWorkerWindow";
inline constexpr int kStartButtonId = 1001;
inline constexpr int kPauseButtonId = 1002;
inline constexpr int kProfileComboId = 1003;
// wParam 0; lParam a StatusMessageText* that the receiver takes over.
inline constexpr UINT kStatusMessage = WM_APP + 1;

// One status text on its way to the window. Whoever takes the message off the queue frees
// it: the window procedure after showing it, or the window's end for texts still queued.
struct StatusMessageText {
    explicit StatusMessageText(std::wstring value);
    ~StatusMessageText();
    StatusMessageText(const StatusMessageText&) = delete;
    StatusMessageText& operator=(const StatusMessageText&) = delete;

    std::wstring text;
    // Texts allocated and not yet freed, process-wide (tests check that none leak).
    static long live_count();
};

// The body of the worker thread: the real program runs worker_run.
using WorkerBody = std::function<void(std::stop_token, FrontEnd&)>;

class MainWindow final : public FrontEnd {
public:
    MainWindow(HINSTANCE instance, WorkerBody body);
    // Destroys the window if it still exists, then stops and joins the worker.
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class (once per process), creates the window and its controls, shows
    // it with the given show command and paints it once. Throws std::runtime_error.
    void create(int show_command);
    // Runs the thread's message loop until the window is gone, then finish(). Returns 0.
    int run_message_loop();
    // Asks the worker to stop and waits for it, answering its profile queries meanwhile.
    // The process may end once this returns.
    void finish();

    // Worker thread: converts the text and posts it; never waits. Dropped once the window
    // is being destroyed; the texts still queued then are freed with it.
    void post_status(std::string text) override;
    // Worker thread: the combo box's selection, asked of the UI thread (CB_ERR when none).
    int selected_profile() override;
    // Worker thread: kept for the icon's tooltip, shown with the next status text.
    void unit_progress(const UnitPosition& unit, double starts_per_second) override;
    void unit_accepted(const std::string& audit, const InstallationTotals& totals) override;

    const TrayIcon& tray() const { return tray_; }
    // The tooltip as it stands (UTF-8), and the settings the window keeps.
    std::string tray_tip() const;
    const WorkerSettings& settings() const { return settings_; }

    HWND window() const {
        std::lock_guard lock(post_mutex_);
        return window_;
    }
    HWND status_panel() const { return status_panel_; }
    HWND start_button() const { return start_button_; }
    HWND pause_button() const { return pause_button_; }
    HWND profile_combo() const { return profile_combo_; }
    HFONT font() const { return font_; }

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void create_controls(HWND window);
    void on_start();
    void on_pause();
    void show_from_tray();
    void refresh_tray_tip();
    // Flips one of the opt-in pauses, for this run at once and in settings.json.
    void toggle_option(bool WorkerSettings::*option);
    void keep_settings();
    void wait_for_worker();
    void close_status_queue(HWND window);

    HINSTANCE instance_;
    WorkerBody body_;
    mutable std::mutex post_mutex_;
    HWND window_ = nullptr;  // while texts can go to it; guarded by post_mutex_
    HWND status_panel_ = nullptr;
    HWND start_button_ = nullptr;
    HWND pause_button_ = nullptr;
    HWND profile_combo_ = nullptr;
    HFONT font_ = nullptr;
    HANDLE worker_done_ = nullptr;  // set by the worker thread as its last act
    WorkerSettings settings_;       // UI thread only
    TrayIcon tray_;
    mutable std::mutex tip_mutex_;
    TrayTipState tip_;  // guarded by tip_mutex_
    std::jthread worker_;
};

}  // namespace pelorin
