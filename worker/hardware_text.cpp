#include "worker/hardware_text.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "coordinator/environment.hpp"
#include "gpu/cuda_backend.hpp"

namespace pelorin {
namespace {

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::optional<std::string> processor_model_name() {
    std::ifstream in("/proc/cpuinfo", std::ios::binary);  // absent on Windows
    if (!in) return std::nullopt;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return cpuinfo_model_name(text);
}

}  // namespace

std::optional<std::string> cpuinfo_model_name(std::string_view cpuinfo) {
    for (std::size_t at = 0; at < cpuinfo.size();) {
        const auto end = std::min(cpuinfo.find('\n', at), cpuinfo.size());
        const std::string_view line = cpuinfo.substr(at, end - at);
        at = end + 1;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || trimmed(line.substr(0, colon)) != "model name") continue;
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (value.empty()) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

std::string hardware_text() {
    auto processor = environment_variable("PROCESSOR_IDENTIFIER");
    if (!processor) processor = processor_model_name();
    return processor.value_or("CPU") + cuda_device_description();
}

}  // namespace pelorin
