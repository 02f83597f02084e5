#include "server/utc_time.hpp"

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace pelorin::server {

std::string utc_text(std::int64_t unix_ms, bool with_milliseconds) {
    using namespace std::chrono;
    const sys_time<milliseconds> at{milliseconds{unix_ms}};
    const auto day = floor<days>(at);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{at - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    std::string out = text;
    if (with_milliseconds) {
        std::snprintf(text, sizeof text, ".%03d", static_cast<int>(time.subseconds().count()));
        out += text;
    }
    return out + "Z";
}

std::int64_t parse_utc(const std::string& text) {
    using namespace std::chrono;
    const auto refuse = [&] {
        return std::invalid_argument("a time is written 2026-12-10T14:00:31Z (UTC) or 2026-12-10: " + text);
    };
    // The digits of text[at, at + n), or a refusal.
    const auto number = [&](std::size_t at, std::size_t n) {
        if (at + n > text.size()) throw refuse();
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') throw refuse();
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    const auto at = [&](std::size_t i, char c) {
        if (i >= text.size() || text[i] != c) throw refuse();
    };
    // 2026-12-10, 2026-12-10T14:00Z or 2026-12-10T14:00:31Z
    if (text.size() != 10 && text.size() != 17 && text.size() != 20) throw refuse();
    at(4, '-');
    at(7, '-');
    const year_month_day ymd{year{number(0, 4)}, month{static_cast<unsigned>(number(5, 2))},
                             day{static_cast<unsigned>(number(8, 2))}};
    int h = 0, mi = 0, s = 0;
    if (text.size() > 10) {
        at(10, 'T');
        h = number(11, 2);
        at(13, ':');
        mi = number(14, 2);
        if (text.size() == 20) {
            at(16, ':');
            s = number(17, 2);
        }
        at(text.size() - 1, 'Z');
    }
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59) throw refuse();
    const auto moment = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s};
    return duration_cast<milliseconds>(moment.time_since_epoch()).count();
}

}  // namespace pelorin::server
