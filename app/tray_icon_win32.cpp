#include "app/tray_icon_win32.hpp"

#include <cwchar>

namespace pelorin {
namespace {

constexpr UINT kIconId = 1;

void copy_text(wchar_t* into, std::size_t size, const std::wstring& text) {
    std::wcsncpy(into, text.c_str(), size - 1);
    into[size - 1] = L'\0';
}

}  // namespace

TrayIcon::TrayIcon(HINSTANCE instance) : taskbar_created_(RegisterWindowMessageW(L"TaskbarCreated")) {
    // The program's own icon (resource 1) at the notification area's size.
    icon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                          GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (!icon_) icon_ = LoadIconW(nullptr, IDI_APPLICATION);
}

TrayIcon::~TrayIcon() {
    remove();
    if (icon_) DestroyIcon(icon_);
}

bool TrayIcon::add(HWND window, const std::wstring& tip) {
    data_ = NOTIFYICONDATAW{};
    data_.cbSize = sizeof(data_);
    data_.hWnd = window;
    data_.uID = kIconId;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = kTrayMessage;
    data_.hIcon = icon_;
    copy_text(data_.szTip, std::size(data_.szTip), tip);
    shown_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
    return shown_;
}

void TrayIcon::set_tip(const std::wstring& tip) {
    if (!shown_) return;
    data_.uFlags = NIF_TIP;
    copy_text(data_.szTip, std::size(data_.szTip), tip);
    Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void TrayIcon::balloon(const std::wstring& title, const std::wstring& text) {
    if (!shown_) return;
    data_.uFlags = NIF_INFO;
    data_.dwInfoFlags = NIIF_WARNING;
    copy_text(data_.szInfoTitle, std::size(data_.szInfoTitle), title);
    copy_text(data_.szInfo, std::size(data_.szInfo), text);
    Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void TrayIcon::remove() {
    if (!shown_) return;
    data_.uFlags = 0;
    Shell_NotifyIconW(NIM_DELETE, &data_);
    shown_ = false;
}

void open_tray_menu(HWND window, const TrayMenuState& state) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    const auto checked = [](bool on) { return static_cast<UINT>(MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED)); };
    AppendMenuW(menu, MF_STRING, kMenuShowId, L"Show");
    AppendMenuW(menu, MF_STRING | (state.running ? MF_ENABLED : MF_GRAYED), kMenuPauseId,
                state.running && state.paused ? L"Resume" : L"Pause");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, checked(state.pause_on_battery), kMenuPauseOnBatteryId, L"Pause while on battery power");
    AppendMenuW(menu, checked(state.pause_while_in_use), kMenuPauseWhileInUseId, L"Pause while the computer is in use");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kMenuExitId, L"Exit");
    SetMenuDefaultItem(menu, kMenuShowId, FALSE);
    POINT at{};
    GetCursorPos(&at);
    // The menu closes when it loses the focus only if its window is in the foreground, and
    // the message after it lets the next click open it again.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

}  // namespace pelorin
