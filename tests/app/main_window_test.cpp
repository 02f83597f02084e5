// The window in this process, driven through its own messages: layout, the Start and Pause
// states, the status texts from a worker thread, and closing while the worker is busy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/main_window_win32.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;

// Runs the thread's messages until `done` holds; false after 20 s.
bool pump_until(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        // A bounded batch, so that a worker posting without pause cannot keep us here.
        MSG msg;
        for (int i = 0; i < 100 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

std::wstring text_of(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

HINSTANCE this_instance() { return GetModuleHandleW(nullptr); }

TEST(MainWindow, ClassWindowAndControlsAsLaidOut) {
    MainWindow main(this_instance(), [](std::stop_token, FrontEnd&) {});
    main.create(SW_SHOWNORMAL);
    HWND window = main.window();
    ASSERT_NE(window, nullptr);

    wchar_t class_name[64] = {};
    GetClassNameW(window, class_name, 64);
    EXPECT_STREQ(class_name, L"PelorinCommunityWorkerWindow");
    EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), 0u);
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HICON), 0u);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(window, GCLP_HCURSOR)), LoadCursorW(nullptr, IDC_ARROW));
    LOGBRUSH brush{};
    ASSERT_NE(GetObjectW(reinterpret_cast<HBRUSH>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND)), sizeof(brush), &brush), 0);
    EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(brush.lbColor, 0x00FAF7F5u);
    EXPECT_EQ(GetMenu(window), nullptr);

    EXPECT_EQ(text_of(window), L"Pelorin Community Worker");
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS), 0x00CA0000u) << std::hex << style;
    EXPECT_TRUE(style & WS_VISIBLE);
    // The system adds the edge that every captioned window has; nothing else is asked for.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)) & ~WS_EX_WINDOWEDGE, 0u);
    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, 680);
    EXPECT_EQ(outer.bottom - outer.top, 410);

    struct Control {
        const wchar_t* window_class;
        const wchar_t* text;
        DWORD type_bits;  // the low style bits that set the control's kind
        DWORD type_mask;
        RECT rect;        // client pixels; the combo box's height is that of its open list
        int id;
        bool shared_font;
    };
    const Control expected[] = {
        {L"Static", L"PELORIN COMMUNITY WORKER", SS_LEFT, SS_TYPEMASK, {28, 22, 628, 50}, 0, false},
        {L"Static", L"Ready. Press Start to benchmark this computer and request work.", SS_LEFT, SS_TYPEMASK,
         {28, 72, 638, 292}, 0, true},
        {L"Button", L"Start", BS_DEFPUSHBUTTON, BS_TYPEMASK, {28, 315, 158, 355}, 1001, true},
        {L"Button", L"Pause", BS_PUSHBUTTON, BS_TYPEMASK, {170, 315, 300, 355}, 1002, true},
        // A drop-down list shows its selection as its text.
        {L"ComboBox", L"Balanced - 85%", CBS_DROPDOWNLIST, 3, {390, 315, 630, 475}, 1003, true},
    };
    HWND child = GetWindow(window, GW_CHILD);
    for (const Control& want : expected) {
        SCOPED_TRACE(narrow(want.window_class) + " " + narrow(want.text));
        ASSERT_NE(child, nullptr);
        GetClassNameW(child, class_name, 64);
        EXPECT_EQ(_wcsicmp(class_name, want.window_class), 0) << narrow(class_name);
        EXPECT_EQ(text_of(child), want.text);
        const DWORD child_style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        EXPECT_EQ(child_style & (WS_CHILD | WS_VISIBLE | WS_TABSTOP), WS_CHILD | WS_VISIBLE) << std::hex << child_style;
        EXPECT_EQ(child_style & want.type_mask, want.type_bits) << std::hex << child_style;
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
        RECT rect{};
        if (want.id == kProfileComboId) {
            // The system sizes the open list from the height asked for: compare with a
            // combo box made here with the asked-for rectangle.
            HWND reference = CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | CBS_DROPDOWNLIST, want.rect.left,
                                             want.rect.top, want.rect.right - want.rect.left,
                                             want.rect.bottom - want.rect.top, window, nullptr, this_instance(), nullptr);
            ASSERT_NE(reference, nullptr);
            SendMessageW(reference, WM_SETFONT, reinterpret_cast<WPARAM>(main.font()), FALSE);
            RECT want_rect{};
            SendMessageW(reference, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&want_rect));
            DestroyWindow(reference);
            SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&rect));
            EXPECT_EQ(rect.bottom, want_rect.bottom);
        } else {
            GetWindowRect(child, &rect);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
            EXPECT_EQ(rect.bottom, want.rect.bottom);
        }
        if (want.id == kProfileComboId) MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, want.rect.left);
        EXPECT_EQ(rect.top, want.rect.top);
        EXPECT_EQ(rect.right, want.rect.right);
        const auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        if (want.shared_font) {
            EXPECT_EQ(font, main.font());
        } else {
            EXPECT_EQ(font, nullptr);  // the system font
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);

    LOGFONTW font{};
    ASSERT_NE(GetObjectW(main.font(), sizeof(font), &font), 0);
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    EXPECT_EQ(font.lfHeight, 19);
    EXPECT_EQ(font.lfWidth, 0);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_EQ(font.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);

    HWND combo = main.profile_combo();
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
    const wchar_t* items[] = {L"Balanced - 85%", L"Maximum - 100%", L"Quiet - 50%"};
    for (int i = 0; i < 3; ++i) {
        wchar_t item[64] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, items[i]);
    }
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
}

// A worker body the test steers: it counts its runs, then waits for a stop or a failure.
struct ScriptedWorker {
    std::atomic<int> runs{0};
    std::atomic<bool> fail{false};
    std::atomic<bool> inside{false};

    WorkerBody body() {
        return [this](std::stop_token stop, FrontEnd& front_end) {
            ++runs;
            inside = true;
            while (!stop.stop_requested() && !fail) std::this_thread::sleep_for(1ms);
            if (fail) {
                fail = false;
                front_end.running = false;  // what a failed run does before it ends
            }
            inside = false;
        };
    }
};

TEST(MainWindow, StartAndPauseStates) {
    ScriptedWorker worker;
    MainWindow main(this_instance(), worker.body());
    main.create(SW_SHOWNORMAL);
    HWND start = main.start_button(), pause = main.pause_button();

    // Each step: the button pressed, then the captions, the flags and the runs so far.
    struct Step {
        const char* what;
        HWND* button;  // nullptr: the run fails instead
        const wchar_t* start_text;
        const wchar_t* pause_text;
        bool running;
        bool paused;
        int runs;
    };
    const Step steps[] = {
        {"pause before any start", &pause, L"Start", L"Pause", false, false, 0},
        {"start", &start, L"Running", L"Pause", true, false, 1},
        {"second start", &start, L"Running", L"Pause", true, false, 1},
        {"pause", &pause, L"Running", L"Resume", true, true, 1},
        {"resume", &pause, L"Running", L"Pause", true, false, 1},
        {"pause again", &pause, L"Running", L"Resume", true, true, 1},
        {"run fails while paused", nullptr, L"Running", L"Resume", false, true, 1},
        {"pause after the failure", &pause, L"Running", L"Resume", false, true, 1},
        {"start after the failure", &start, L"Running", L"Pause", true, false, 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.button) {
            click(*step.button);
        } else {
            worker.fail = true;
            ASSERT_TRUE(pump_until([&] { return !main.running; }));
        }
        ASSERT_TRUE(pump_until([&] { return worker.runs == step.runs && (step.runs == 0 || worker.inside || !main.running); }));
        EXPECT_EQ(text_of(start), step.start_text);
        EXPECT_EQ(text_of(pause), step.pause_text);
        EXPECT_EQ(main.running.load(), step.running);
        EXPECT_EQ(main.paused.load(), step.paused);
    }
    PostMessageW(main.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(main.run_message_loop(), 0);
    EXPECT_FALSE(worker.inside);
}

TEST(MainWindow, StatusTextsAndProfileFromTheWorkerThread) {
    std::atomic<int> profile_seen{-2};
    std::atomic<bool> ask_profile{false};
    std::string posted;
    MainWindow main(this_instance(), [&](std::stop_token stop, FrontEnd& front_end) {
        for (int i = 0; i < 50; ++i) front_end.post_status("text " + std::to_string(i));
        front_end.post_status(posted);
        while (!stop.stop_requested()) {
            if (ask_profile.exchange(false)) profile_seen = front_end.selected_profile();
            std::this_thread::sleep_for(1ms);
        }
    });
    main.create(SW_SHOWNORMAL);
    // CR LF line breaks and the middle dot, as the progress text has them; a control
    // character from outside (an error body, an audit text) is replaced.
    posted = "WORKING \xC2\xB7 cpu-sieve\r\n\r\nCurrent unit  42.17%\x1b[2J\x07";
    const std::wstring shown = L"WORKING \u00B7 cpu-sieve\r\n\r\nCurrent unit  42.17%\uFFFD[2J\uFFFD";
    click(main.start_button());
    ASSERT_TRUE(pump_until([&] { return text_of(main.status_panel()) == shown; })) << narrow(text_of(main.status_panel()));

    for (const int selection : {2, 1, 0, -1}) {
        SendMessageW(main.profile_combo(), CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
        profile_seen = -2;
        ask_profile = true;
        ASSERT_TRUE(pump_until([&] { return profile_seen != -2; })) << selection;
        EXPECT_EQ(profile_seen, selection);
    }
    PostMessageW(main.window(), WM_CLOSE, 0, 0);
    main.run_message_loop();
    EXPECT_EQ(StatusMessageText::live_count(), 0);
}

TEST(MainWindow, EmptyTextClearsThePanel) {
    MainWindow main(this_instance(), [](std::stop_token, FrontEnd& front_end) { front_end.post_status(""); });
    main.create(SW_SHOWNORMAL);
    click(main.start_button());
    ASSERT_TRUE(pump_until([&] { return text_of(main.status_panel()).empty(); }));
}

// Closing while the worker is in a chunk: the window goes at once, the program waits for the
// chunk and its checkpoint, and every text posted around and after the window's end (a
// flood, so that some are still queued when it goes) is freed.
TEST(MainWindow, CloseWaitsForTheChunkAndDropsLateTexts) {
    std::atomic<bool> checkpoint_written{false};
    std::atomic<int> posted_after_stop{0};
    MainWindow main(this_instance(), [&](std::stop_token stop, FrontEnd& front_end) {
        while (!stop.stop_requested()) front_end.post_status("WORKING \xC2\xB7 chunk");
        // The chunk in progress finishes, its checkpoint is written, the progress posted.
        std::this_thread::sleep_for(300ms);
        checkpoint_written = true;
        for (; posted_after_stop < 100; ++posted_after_stop) {
            front_end.post_status("late text");
            front_end.selected_profile();
        }
    });
    main.create(SW_SHOWNORMAL);
    click(main.start_button());
    ASSERT_TRUE(pump_until([&] { return text_of(main.status_panel()) == L"WORKING \u00B7 chunk"; }));
    HWND window = main.window();
    // Sent, not posted: the flood keeps the queue full. Clicking the close box sends it too.
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(main.run_message_loop(), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(checkpoint_written);
    EXPECT_EQ(posted_after_stop, 100);
    EXPECT_EQ(main.window(), nullptr);
    EXPECT_EQ(StatusMessageText::live_count(), 0);
}

}  // namespace
}  // namespace pelorin
