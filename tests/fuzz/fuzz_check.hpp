#pragma once
// What the fuzz targets check beyond "no crash, no sanitizer report": a broken property
// names itself and aborts, so that libFuzzer prints and keeps the input; a refusal must carry
// one of the parser's own messages.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>

namespace pelorin::fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

[[noreturn]] inline void broken(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "broken: %.*s [%.*s]\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void expect(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok) broken(what, detail);
}

inline void expect_message(std::string_view message, std::initializer_list<std::string_view> allowed) {
    for (std::string_view m : allowed)
        if (message == m) return;
    broken("a refusal without one of its parser's messages", message);
}

// The refusals of a lease's bounds: their text forms (parse_u128, parse_end_bound) and the
// range they make (unit_size).
inline bool is_bound_refusal(std::string_view message) {
    for (std::string_view m : {"empty integer", "only 2^k notation is supported", "invalid power expression",
                               "integer exceeds 128 bits or is malformed", "range end is below begin",
                               "single work unit is larger than uint64"})
        if (message == m) return true;
    return false;
}

}  // namespace pelorin::fuzz
