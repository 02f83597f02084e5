#include "worker/status_text.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

std::string fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

}  // namespace

std::string format_rate(double x) {
    static const char* const suffix[] = {"", "K", "M", "B", "T", "P"};
    int i = 0;
    while (x >= 1000.0 && i < 5) {
        x /= 1000.0;
        ++i;
    }
    const int decimals = x >= 100.0 ? 0 : x >= 10.0 ? 1 : 2;
    return fixed(x, decimals) + suffix[i];
}

std::string progress_text(const std::string& backend, double percent, double rate, std::uint64_t units_completed,
                          double remaining_seconds) {
    return std::string("WORKING") + kDot + backend + "\r\n\r\nCurrent unit  " + fixed(percent, 2) +
           "%\r\nPerformance   " + format_rate(rate) + " starts/s\r\nCompleted     " + std::to_string(units_completed) +
           " units\r\nRemaining     " + fixed(remaining_seconds, 0) +
           " seconds\r\n\r\nClose the window to checkpoint and stop.";
}

std::string optimization_complete_text(const std::string& backend, double starts_per_second) {
    return "Optimization complete.\r\n" + backend + kDot + format_rate(starts_per_second) +
           " starts/s\r\nChecking secure connection...";
}

std::string resuming_text(std::uint64_t offset, std::uint64_t count) {
    // offset * 100 / count, rounded down. The product is formed in 128 bits: in 64 bits it
    // wraps for offsets above 1.8e17 and the percentage shown would be nonsense.
    const std::uint64_t divisor = std::max<std::uint64_t>(count, 1);
    U128 num{0, 0};
    // offset * 100 = offset * 64 + offset * 32 + offset * 4, each shifted into two limbs.
    for (unsigned shift : {6u, 5u, 2u}) {
        const U128 part{offset << shift, offset >> (64 - shift)};
        const std::uint64_t lo = num.lo + part.lo;
        num.hi += part.hi + (lo < num.lo ? 1 : 0);
        num.lo = lo;
    }
    // Bit-serial long division of the 128-bit product by the 64-bit count.
    U128 quotient{0, 0};
    std::uint64_t rem = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const std::uint64_t top = rem >> 63;
        rem = (rem << 1) | ((bit >= 64 ? num.hi >> (bit - 64) : num.lo >> bit) & 1);
        if (top != 0 || rem >= divisor) {
            rem -= divisor;
            if (bit >= 64) quotient.hi |= std::uint64_t{1} << (bit - 64);
            else quotient.lo |= std::uint64_t{1} << bit;
        }
    }
    return "Resuming checkpoint at " + u128_to_decimal(quotient) + "%...";
}

std::string unit_percent_text(std::uint64_t offset, std::uint64_t count) {
    return fixed(count == 0 ? 100.0 : static_cast<double>(offset) * 100.0 / static_cast<double>(count), 2) + "%";
}

std::string unit_accepted_text(const std::string& audit) {
    return "Unit accepted" + std::string(kDot) + audit + "\r\nRequesting more work...";
}

std::string unit_rejected_text(const std::string& audit) {
    return "Unit rejected" + std::string(kDot) + audit + "\r\nRequesting more work...";
}

std::string unusable_checkpoint_text(const std::string& reason) {
    return "Local checkpoint unusable: " + reason + ".\r\nKept as checkpoint.json.bad; the unit starts from 0%.";
}

std::string machine_paused_text(bool on_battery, std::chrono::milliseconds in_use_limit,
                                const std::string& unit_percent) {
    std::string text = std::string("PAUSED") + kDot + (on_battery ? "on battery power" : "computer in use") + "\r\n\r\n";
    text += on_battery ? "Work goes on when the computer is on mains power again."
                       : "Work goes on once the computer has had no input for " + wait_text(in_use_limit) + ".";
    text += unit_percent.empty() ? "\r\nNo computation is running."
                                 : "\r\nThe unit stands at " + unit_percent + ", checkpointed; its lease is kept.";
    return text;
}

std::string power_unreadable_text(const std::string& why) {
    return "Could not read the power source (" + why + "); counting it as mains power.";
}

std::string idle_unreadable_text(const std::string& why) {
    return "Could not read whether the computer is in use (" + why + "); counting it as idle.";
}

std::string installation_totals_text(std::uint64_t units_accepted, const std::string& starts_verified,
                                     const std::string& since) {
    return "This computer: " + std::to_string(units_accepted) + (units_accepted == 1 ? " unit" : " units") +
           " accepted, " + starts_verified + " starts verified since " + since + ".";
}

std::string totals_unusable_text(const std::string& why) {
    return "This computer's totals could not be read (" + why + "); counting again from zero.";
}

std::string totals_missing_text() { return "This computer's totals were not found; counting again from zero."; }

std::string totals_unsaved_text(const std::string& message) {
    return message + "; they are kept for this run and saved with the next accepted unit.";
}

std::string stopped_text(const std::string& message) {
    return "STOPPED\r\n\r\n" + message + "\r\n\r\nPress Start to retry.";
}

std::string token_refused_text(const std::string& message) {
    return "TOKEN REFUSED\r\n\r\n" + message + "\r\n\r\nRegistering this worker again.";
}

std::string wait_text(std::chrono::nanoseconds wait) {
    const double seconds = static_cast<double>(wait.count()) / 1e9;
    if (seconds < 9.95) return fixed(seconds, 1) + " s";
    const auto whole = static_cast<long long>(seconds + 0.5);
    if (whole < 120) return std::to_string(whole) + " s";
    const long long minutes = whole / 60, rest = whole % 60;
    std::string text = std::to_string(minutes) + " min";
    if (rest != 0) text.append(" ").append(std::to_string(rest)).append(" s");
    return text;
}

std::string utc_time_text(std::chrono::system_clock::time_point at, const char* format) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &utc));
}

std::string retry_text(const std::string& message, std::chrono::nanoseconds wait,
                       std::chrono::system_clock::time_point next_try) {
    return "WAITING TO RETRY\r\n\r\n" + message + "\r\n\r\nNext try in " + wait_text(wait) + ", at " +
           utc_time_text(next_try, "%H:%M:%S") + " UTC.";
}

}  // namespace pelorin
