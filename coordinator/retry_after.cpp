#include "coordinator/retry_after.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace pelorin {
namespace {

using namespace std::chrono;

constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                       "Friday", "Saturday", "Sunday"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a date from left to right; every step fails without moving when the text differs.
class Cursor {
public:
    explicit Cursor(std::string_view text) : rest_(text) {}

    bool done() const { return rest_.empty(); }

    bool literal(std::string_view expected) {
        if (!rest_.starts_with(expected)) return false;
        rest_.remove_prefix(expected.size());
        return true;
    }

    // Exactly `count` digits.
    bool number(std::size_t count, int& value) {
        if (rest_.size() < count) return false;
        int v = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!is_digit(rest_[i])) return false;
            v = v * 10 + (rest_[i] - '0');
        }
        rest_.remove_prefix(count);
        value = v;
        return true;
    }

    // One of `names` (case as written); `index` is its place.
    template <std::size_t N>
    bool name(const std::array<std::string_view, N>& names, int& index) {
        for (std::size_t i = 0; i < N; ++i) {
            if (literal(names[i])) {
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }

    // hh:mm:ss
    bool time_of_day(seconds& value) {
        int h = 0, m = 0, s = 0;
        if (!(number(2, h) && literal(":") && number(2, m) && literal(":") && number(2, s))) return false;
        if (h > 23 || m > 59 || s > 60) return false;  // 60: a leap second
        value = hours(h) + minutes(m) + seconds(s);
        return true;
    }

private:
    std::string_view rest_;
};

// A two-digit year more than 50 years ahead of now belongs to the century before.
int full_year(int two_digits, system_clock::time_point now) {
    const int this_year = static_cast<int>(year_month_day(floor<days>(now)).year());
    const int year = this_year / 100 * 100 + two_digits;
    return year > this_year + 50 ? year - 100 : year;
}

std::optional<sys_seconds> http_date(std::string_view text, system_clock::time_point now) {
    Cursor at(text);
    int weekday = 0, day = 0, month = 0, year = 0;
    seconds time{};
    bool read = false;
    if (at.name(kDays, weekday) && at.literal(", ")) {
        // IMF-fixdate: Sun, 06 Nov 1994 08:49:37 GMT
        read = at.number(2, day) && at.literal(" ") && at.name(kMonths, month) && at.literal(" ") &&
               at.number(4, year) && at.literal(" ") && at.time_of_day(time) && at.literal(" GMT");
    } else if (Cursor full(text); full.name(kLongDays, weekday) && full.literal(", ")) {
        // RFC 850: Sunday, 06-Nov-94 08:49:37 GMT
        at = full;
        read = at.number(2, day) && at.literal("-") && at.name(kMonths, month) && at.literal("-") &&
               at.number(2, year) && at.literal(" ") && at.time_of_day(time) && at.literal(" GMT");
        year = full_year(year, now);
    } else if (at = Cursor(text); at.name(kDays, weekday) && at.literal(" ")) {
        // asctime: Sun Nov  6 08:49:37 1994
        // A day below 10 stands as a blank and one digit.
        read = at.name(kMonths, month) && at.literal(" ") &&
               (at.literal(" ") ? at.number(1, day) : at.number(2, day)) && at.literal(" ") &&
               at.time_of_day(time) && at.literal(" ") && at.number(4, year);
    }
    if (!read || !at.done()) return std::nullopt;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month + 1)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    return sys_days(date) + time;
}

}  // namespace

std::optional<seconds> parse_retry_after(std::string_view value, system_clock::time_point now) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!value.empty() && blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && blank(value.back())) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;

    if (std::all_of(value.begin(), value.end(), is_digit)) {
        std::int64_t delay = 0;
        for (char c : value) delay = std::min<std::int64_t>(delay * 10 + (c - '0'), kMaxRetryAfter.count());
        return seconds(delay);
    }
    const std::optional<sys_seconds> date = http_date(value, now);
    if (!date) return std::nullopt;
    // Whole seconds from now, rounded up: the date itself has whole seconds.
    const seconds delay = *date - floor<seconds>(now);
    return std::clamp(delay, seconds(0), kMaxRetryAfter);
}

}  // namespace pelorin
