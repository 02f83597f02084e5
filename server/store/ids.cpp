#include "server/store/ids.hpp"

namespace pelorin::server {
namespace {

// Digits only, no leading zero, at most 18 of them (a positive 64-bit row number).
std::optional<std::int64_t> number_after(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 18 || digits.front() == '0') return std::nullopt;
    std::int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::string worker_name(std::int64_t number) { return "w-" + std::to_string(number); }
std::string lease_name(std::int64_t number) { return "lease-" + std::to_string(number); }
std::optional<std::int64_t> worker_number(std::string_view name) { return number_after(name, "w-"); }
std::optional<std::int64_t> lease_number(std::string_view name) { return number_after(name, "lease-"); }

}  // namespace pelorin::server
