// PelorinWorker.exe: the worker in its window.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <string>

#include "app/main_window_win32.hpp"
#include "coordinator/windows_text.hpp"
#include "worker/worker_run.hpp"
#if defined(PELORIN_GUI_COORDINATOR_HOST)
#include "coordinator/https_transport.hpp"
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
#if defined(PELORIN_GUI_COORDINATOR_HOST)
    // A test build of the window talks to a coordinator of the test's own.
    pelorin::set_coordinator({PELORIN_GUI_COORDINATOR_HOST, PELORIN_GUI_COORDINATOR_PORT});
#endif
    try {
        pelorin::MainWindow window(instance, [](std::stop_token stop, pelorin::FrontEnd& front_end) {
            pelorin::worker_run(std::move(stop), front_end);
        });
        window.create(show_command);
        return window.run_message_loop();
    } catch (const std::exception& e) {
        // Only the window's own creation can fail here; the run reports in the status panel.
        MessageBoxW(nullptr, pelorin::utf8_to_utf16(e.what()).c_str(), L"Pelorin Community Worker", MB_OK | MB_ICONERROR);
        return 1;
    }
}
