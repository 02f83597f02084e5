// The terminal front end: the panel redrawn in place on a terminal; one stamped line per entry
// on a pipe or journal, with progress at most once a minute; the terminal's words; nothing
// from outside reaching the terminal raw.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/terminal_front_end.hpp"
#include "worker/status_text.hpp"

namespace pelorin {
namespace {

using namespace std::chrono;

// What the front end wrote, read back from a temporary file.
class Output {
public:
    Output() : file_(std::tmpfile()) {}
    ~Output() { std::fclose(file_); }
    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string all;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) all.append(buf, n);
        return all;
    }

private:
    std::FILE* file_;
};

// A clock the test moves by hand: 2026-12-10T14:00:00Z onwards.
TerminalFrontEnd::Clock::time_point g_now{seconds(1796911200)};
TerminalFrontEnd::Clock::time_point test_now() { return g_now; }

const UnitPosition kUnit{"1099511627776", "1108101562368", 3622019072, 8589934592};

TEST(TerminalFrontEnd, RedrawsInPlaceAndSkipsRepeats) {
    Output out;
    TerminalFrontEnd fe(out.file(), true, 1);
    fe.post_status("Self-test passed.\r\nOptimizing for this computer...");
    fe.post_status("Self-test passed.\r\nOptimizing for this computer...");  // a repeat: nothing drawn
    fe.post_status(progress_text("scalar", 42.1666, 2.2e9, 3, 12));
    fe.post_status(stopped_text("Coordinator error 500: down"));
    EXPECT_EQ(out.text(),
              "\x1b[JSelf-test passed.\nOptimizing for this computer...\n"
              "\x1b[2F\x1b[JWORKING \xC2\xB7 scalar\n\nCurrent unit  42.17%\nPerformance   2.20B starts/s\n"
              "Completed     3 units\nRemaining     12 seconds\n\nPress Ctrl-C to checkpoint and stop.\n"
              "\x1b[8F\x1b[JSTOPPED\n\nCoordinator error 500: down\n\nRun it again to retry.\n");
}

TEST(TerminalFrontEnd, JournalLinesAreStampedAndProgressComesOnceAMinute) {
    Output out;
    TerminalFrontEnd fe(out.file(), false, 1, "Send SIGUSR1 again to resume.");
    fe.set_clock(&test_now);
    g_now = TerminalFrontEnd::Clock::time_point{seconds(1796911200)};
    fe.post_status(kConnectedText);
    fe.post_status(progress_text("scalar", 10, 2.2e9, 0, 90));   // right after a change: shown
    g_now += seconds(30);
    fe.post_status(progress_text("scalar", 20, 2.2e9, 0, 80));   // within the minute: held back
    fe.unit_paused(kUnit);                                        // a change: at once
    fe.paused = true;
    fe.unit_resumed(kUnit);
    g_now += seconds(1);
    fe.post_status(progress_text("scalar", 50, 2.2e9, 0, 50));   // first progress after a change
    g_now += seconds(59);
    fe.post_status(progress_text("scalar", 60, 2.2e9, 0, 40));   // 59 s later: held back
    g_now += seconds(1);
    fe.post_status(progress_text("scalar", 70, 2.2e9, 0, 30));   // a minute later: shown
    fe.run_stopped(kUnit);
    EXPECT_EQ(out.text(),
              "2026-12-10T14:00:00Z Secure connection established. | Registering with coordinator...\n"
              "2026-12-10T14:00:00Z WORKING \xC2\xB7 scalar | Current unit 10.00% | Performance 2.20B starts/s | "
              "Completed 0 units | Remaining 90 seconds\n"
              "2026-12-10T14:00:30Z PAUSED at 42.17% of unit [1099511627776, 1108101562368). "
              "Send SIGUSR1 again to resume.\n"
              "2026-12-10T14:00:30Z RESUMED at 42.17% of unit [1099511627776, 1108101562368).\n"
              "2026-12-10T14:00:31Z WORKING \xC2\xB7 scalar | Current unit 50.00% | Performance 2.20B starts/s | "
              "Completed 0 units | Remaining 50 seconds\n"
              "2026-12-10T14:01:31Z WORKING \xC2\xB7 scalar | Current unit 70.00% | Performance 2.20B starts/s | "
              "Completed 0 units | Remaining 30 seconds\n"
              "2026-12-10T14:01:31Z Stopped at 42.17% of unit [1099511627776, 1108101562368); checkpoint saved.\n");
}

TEST(TerminalFrontEnd, TextsFromOutsideNeverReachTheTerminalRaw) {
    for (const bool redraw : {true, false}) {
        Output out;
        TerminalFrontEnd fe(out.file(), redraw, 1);
        fe.post_status(unit_accepted_text("\x1b]0;owned\x07\x1b[2J\x1b[31mred"));
        fe.post_status(stopped_text("Coordinator error 400: a\nb\rc\x9b"));
        const std::string text = out.text();
        // Only the front end's own cursor movements, and only on a terminal.
        std::size_t escapes = 0;
        for (auto at = text.find('\x1b'); at != std::string::npos; at = text.find('\x1b', at + 1)) ++escapes;
        EXPECT_EQ(escapes, redraw ? 3u : 0u) << text;
        for (const char c : {'\x07', '\r', '\x9b'}) EXPECT_EQ(text.find(c), std::string::npos) << text;
        EXPECT_NE(text.find("Unit accepted \xC2\xB7 \xEF\xBF\xBD]0;owned\xEF\xBF\xBD\xEF\xBF\xBD[2J"), std::string::npos)
            << text;
    }
}

// The pauses for the computer's owner and an accepted unit with this computer's totals: one
// journal line each.
TEST(TerminalFrontEnd, OwnersPausesAndTotalsAreOneJournalLineEach) {
    Output out;
    TerminalFrontEnd fe(out.file(), false, 1);
    fe.set_clock(&test_now);
    g_now = TerminalFrontEnd::Clock::time_point{seconds(1796911200)};
    fe.post_status(machine_paused_text(true, minutes(3), "42.17%"));
    fe.post_status(machine_paused_text(false, minutes(3), ""));
    fe.unit_accepted("accepted", InstallationTotals{12, BigUint(103079215104), "2026-12-01"});
    EXPECT_EQ(out.text(),
              "2026-12-10T14:00:00Z PAUSED \xC2\xB7 on battery power | Work goes on when the computer is on mains power "
              "again. | The unit stands at 42.17%, checkpointed; its lease is kept.\n"
              "2026-12-10T14:00:00Z PAUSED \xC2\xB7 computer in use | Work goes on once the computer has had no input "
              "for 3 min. | No computation is running.\n"
              "2026-12-10T14:00:00Z Unit accepted \xC2\xB7 accepted | Requesting more work... | This computer: 12 units "
              "accepted, 103079215104 starts verified since 2026-12-01.\n");
}

TEST(TerminalFrontEnd, StopLines) {
    EXPECT_EQ(run_stopped_text(std::nullopt), "Stopped; no unit in progress.");
    EXPECT_EQ(run_stopped_text(UnitPosition{"0", "0", 0, 0}), "Stopped at 100.00% of unit [0, 0); checkpoint saved.");
    EXPECT_EQ(unit_paused_text(kUnit, ""), "PAUSED at 42.17% of unit [1099511627776, 1108101562368).");
    EXPECT_EQ(terminal_wording(progress_text("x", 1, 1, 1, 1)).substr(0, 7), "WORKING");
    EXPECT_EQ(journal_line("A  b\r\n\r\n   c  \r\n", TerminalFrontEnd::Clock::time_point{seconds(0)}),
              "1970-01-01T00:00:00Z A b | c");
}

}  // namespace
}  // namespace pelorin
