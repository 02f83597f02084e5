#pragma once
// Every text the worker shows in its status panel: one vocabulary, CR LF line breaks and the
// middle dot U+00B7 (UTF-8 C2 B7).
#include <chrono>
#include <cstdint>
#include <string>

namespace pelorin {

inline constexpr const char* kDot = " \xC2\xB7 ";
inline constexpr const char* kReadyText = "Ready. Press Start to benchmark this computer and request work.";
inline constexpr const char* kSelfTestText = "Self-test passed.\r\nOptimizing for this computer...";
inline constexpr const char* kConnectedText = "Secure connection established.\r\nRegistering with coordinator...";
// The same moment after a fault was waited out, for a worker that is registered already.
inline constexpr const char* kReconnectedText = "Secure connection established.\r\nRequesting work...";
inline constexpr const char* kRegisteringText = "Registering public worker...\r\nSolving short anti-abuse challenge.";
inline constexpr const char* kPausedText = "Paused.\r\nNo computation is running.";
inline constexpr const char* kCompleteText = "Campaign allocation is complete.";

// 1234567 -> "1.23M": at most five divisions by 1000 (suffixes K M B T P), two decimals
// below 10, one below 100, none above.
std::string format_rate(double value);

std::string progress_text(const std::string& backend, double percent, double rate, std::uint64_t units_completed,
                          double remaining_seconds);

std::string optimization_complete_text(const std::string& backend, double starts_per_second);
std::string resuming_text(std::uint64_t offset, std::uint64_t count);

// How far a unit stands, to two decimals: "42.17%"; an empty unit is "100.00%".
std::string unit_percent_text(std::uint64_t offset, std::uint64_t count);
std::string unit_accepted_text(const std::string& audit);
// The coordinator refused the unit's result: "Unit rejected · " + audit, then the next request.
std::string unit_rejected_text(const std::string& audit);
// A checkpoint that cannot be resumed, why, and what became of it.
std::string unusable_checkpoint_text(const std::string& reason);
std::string stopped_text(const std::string& message);

// A fault that waiting can fix, and when the next try comes (a service's run only):
// "WAITING TO RETRY\r\n\r\n" + message + "\r\n\r\nNext try in 32 s, at 14:05:09 UTC."
std::string retry_text(const std::string& message, std::chrono::nanoseconds wait,
                       std::chrono::system_clock::time_point next_try);

// The token was refused and the worker registers again (a service's run only):
// "TOKEN REFUSED\r\n\r\n" + message + "\r\n\r\nRegistering this worker again."
std::string token_refused_text(const std::string& message);

// Work waits for the computer's owner (PauseReason on_battery or in_use): why, when it goes on,
// and where the unit stands ("42.17%"; empty between units). The user's own pause keeps
// kPausedText.
std::string machine_paused_text(bool on_battery, std::chrono::milliseconds in_use_limit,
                                const std::string& unit_percent);

// A reading the opt-in pauses need could not be taken, and what the worker counts instead.
std::string power_unreadable_text(const std::string& why);
std::string idle_unreadable_text(const std::string& why);

// What this installation has done: "This computer: 12 units accepted, 103079215104 starts
// verified since 2026-12-10."
std::string installation_totals_text(std::uint64_t units_accepted, const std::string& starts_verified,
                                     const std::string& since);

// This computer's totals could not be read (why), or were not found for a registered worker:
// counting starts again from zero.
std::string totals_unusable_text(const std::string& why);
std::string totals_missing_text();

// The totals could not be saved after an accepted unit: the message, and that they are saved
// with the next one.
std::string totals_unsaved_text(const std::string& message);

// A moment in UTC as strftime's `format` writes it ("%H:%M:%S").
std::string utc_time_text(std::chrono::system_clock::time_point at, const char* format);

// A wait as people read it: "2.5 s", "32 s", "4 min 16 s", "30 min".
std::string wait_text(std::chrono::nanoseconds wait);

}  // namespace pelorin
