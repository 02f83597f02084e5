#include "server/utc_time.hpp"

#include <chrono>
#include <cstdio>
#include <regex>
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
    static const std::regex form(R"(^(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2})(?::(\d{2}))?Z)?$)");
    std::smatch m;
    using namespace std::chrono;
    const auto refuse = [&] {
        return std::invalid_argument("a time is written 2026-12-10T14:00:31Z (UTC) or 2026-12-10: " + text);
    };
    if (!std::regex_match(text, m, form)) throw refuse();
    const year_month_day ymd{year{std::stoi(m[1])}, month{static_cast<unsigned>(std::stoi(m[2]))},
                             day{static_cast<unsigned>(std::stoi(m[3]))}};
    const int h = m[4].matched ? std::stoi(m[4]) : 0;
    const int mi = m[5].matched ? std::stoi(m[5]) : 0;
    const int s = m[6].matched ? std::stoi(m[6]) : 0;
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59) throw refuse();
    const auto at = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s};
    return duration_cast<milliseconds>(at.time_since_epoch()).count();
}

}  // namespace pelorin::server
