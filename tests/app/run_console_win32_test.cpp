// `pelorin-worker.exe run` stopped from its console: Ctrl-C, Ctrl-Break and the console being
// closed, each while a chunk is in progress. Each must end the run with exit status 0, the
// chunk checkpointed and the unit not completed. The campaign is one unit that takes far
// longer than the test (PELORIN_TEST_CAMPAIGN in CMakeLists.txt), so only a stop ends it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "coordinator/json_text.hpp"
#include "coordinator/windows_text.hpp"
#include "state/checkpoint.hpp"
#include "tests/support/windows_coordinator.hpp"
#include "worker_process_win32.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kUnitSize = std::uint64_t{1} << 38;  // the campaign's one unit

// Ctrl-C reaches every process on the console, this one too; a handler (unlike ignoring
// Ctrl-C) is not inherited by the workers started here.
BOOL WINAPI keep_running(DWORD event) { return event == CTRL_C_EVENT; }

// A console of this process's own, which the workers started here share. A program that
// Wine starts without a terminal has a console that takes no control events, and on Windows
// the console of the tests is CTest's.
std::string own_console() {
    static const std::string failure = []() -> std::string {
        FreeConsole();
        if (!AllocConsole()) return "AllocConsole: " + last_error_text();
        SetConsoleCtrlHandler(keep_running, TRUE);
        return "";
    }();
    return failure;
}

// Does what the console does for each control event: a thread of the process runs the
// system's control routine, which calls the process's handlers. Used where Wine's console
// cannot deliver the event: it passes on Ctrl-C alone (GenerateConsoleCtrlEvent refuses
// CTRL_BREAK_EVENT, closing the console sends nothing), and a process in a group of its own
// ignores every event there.
std::string run_control_routine(HANDLE process, DWORD event) {
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
    if (routine == nullptr) return "kernel32 has no CtrlRoutine";
    const HANDLE thread = CreateRemoteThread(process, nullptr, 0, routine,
                                             reinterpret_cast<void*>(static_cast<DWORD_PTR>(event)), 0, nullptr);
    if (thread == nullptr) return "CreateRemoteThread: " + last_error_text();
    CloseHandle(thread);
    return "";
}

enum class Delivery { console, control_routine };

class RunConsole : public test::WindowsCoordinator {
protected:
    void SetUp() override {
        test::WindowsCoordinator::SetUp();
        if (IsSkipped()) return;
        const std::string failure = own_console();
        ASSERT_EQ(failure, "");
    }

    // checkpoint.json as the worker last wrote it; empty while there is none (or it is
    // being replaced).
    std::string checkpoint_text() const {
        try {
            return test::read_file(data.folder() / "checkpoint.json");
        } catch (const std::runtime_error&) {
            return "";
        }
    }

    // Starts a run, hands it `event` once its first chunk is checkpointed, and checks how it ends.
    void stop_mid_unit(DWORD event, Delivery delivery);
};

void RunConsole::stop_mid_unit(DWORD event, Delivery delivery) {
    // At 100 % a chunk is always in progress: no pause between chunks.
    const test::WorkerProcess worker(L"run --profile maximum --coordinator localhost:" + std::to_wstring(port_),
                                     data.base() / "output.txt");

    // Working: the first chunk is checkpointed.
    std::string before;
    for (const auto until = std::chrono::steady_clock::now() + 180s;
         before.empty() && std::chrono::steady_clock::now() < until && !worker.wait(0ms);) {
        std::this_thread::sleep_for(50ms);
        before = checkpoint_text();
    }
    ASSERT_NE(before, "") << "no checkpoint while running\n" << worker.output();

    if (delivery == Delivery::console) {
        ASSERT_TRUE(GenerateConsoleCtrlEvent(event, 0)) << last_error_text();
    } else {
        const std::string failure = run_control_routine(worker.handle(), event);
        ASSERT_EQ(failure, "");
    }
    // Wine ends a process that has no handler for the event with status 0 too (Windows with
    // STATUS_CONTROL_C_EXIT): the checkpoint below tells a handled stop from that.
    const std::optional<DWORD> status = worker.wait(120s);
    ASSERT_TRUE(status) << "still running 120 s after the event\n" << worker.output();
    EXPECT_EQ(*status, 0u) << worker.output();

    // The checkpoint of the chunk that was in progress, as the next run loads it: past the
    // one seen before the event, short of the unit's end, its record counting every start
    // it passed.
    const std::string after = checkpoint_text();
    const auto saved = load_stored_checkpoint().checkpoint;
    ASSERT_TRUE(saved) << after;
    EXPECT_GT(saved->offset, json_u64_field(before, "offset", 0))
        << "the chunk in progress was not checkpointed\nbefore the event: " << before << "after: " << after
        << worker.output();
    EXPECT_LT(saved->offset, kUnitSize) << after;
    EXPECT_EQ(saved->result.checked, BigUint(saved->offset)) << after;
    for (const std::string& request : requests()) EXPECT_EQ(request.find("/complete"), std::string::npos) << request;
}

TEST_F(RunConsole, CtrlC) { stop_mid_unit(CTRL_C_EVENT, Delivery::console); }
TEST_F(RunConsole, CtrlBreak) { stop_mid_unit(CTRL_BREAK_EVENT, Delivery::control_routine); }
TEST_F(RunConsole, ConsoleClosed) { stop_mid_unit(CTRL_CLOSE_EVENT, Delivery::control_routine); }

}  // namespace
}  // namespace pelorin
