#pragma once
// The window's icon in the notification area: added and kept (again after the taskbar
// restarts), its tooltip, a balloon for what the window cannot show, and its menu.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace pelorin {

// The icon's messages to its window: lParam is the mouse message (WM_RBUTTONUP...).
inline constexpr UINT kTrayMessage = WM_APP + 2;

// The menu's commands, sent to the window as WM_COMMAND.
inline constexpr int kMenuShowId = 2001;
inline constexpr int kMenuPauseId = 2002;
inline constexpr int kMenuPauseOnBatteryId = 2003;
inline constexpr int kMenuPauseWhileInUseId = 2004;
inline constexpr int kMenuExitId = 2005;

class TrayIcon {
public:
    explicit TrayIcon(HINSTANCE instance);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon for `window` with the tip; false when there is no notification area.
    bool add(HWND window, const std::wstring& tip);
    bool shown() const { return shown_; }
    void set_tip(const std::wstring& tip);
    void balloon(const std::wstring& title, const std::wstring& text);
    void remove();
    // The message the taskbar broadcasts when it starts again: the icon must be added anew.
    UINT taskbar_created() const { return taskbar_created_; }

private:
    NOTIFYICONDATAW data_{};
    HICON icon_ = nullptr;
    bool shown_ = false;
    UINT taskbar_created_ = 0;
};

// What the menu shows: Show; Pause or Resume; the two options as checked items; Exit.
struct TrayMenuState {
    bool running = false;  // Pause acts only on a run, as the button does
    bool paused = false;
    bool pause_on_battery = false;
    bool pause_while_in_use = false;
};

// Opens the menu at the cursor; the chosen command reaches `window` as WM_COMMAND.
void open_tray_menu(HWND window, const TrayMenuState& state);

}  // namespace pelorin
