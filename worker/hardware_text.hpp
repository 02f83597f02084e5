#pragma once
// The hardware text whose digest tells the coordinator which kind of computer a worker runs
// on: the processor's name immediately followed by the GPU description.
#include <optional>
#include <string>
#include <string_view>

namespace pelorin {

// PROCESSOR_IDENTIFIER (set on every Windows system); where it is unset, the processor's
// model name from /proc/cpuinfo (so Linux machines do not all send the same hash); else "CPU".
std::string hardware_text();

// The value of the first "model name" line of a /proc/cpuinfo text, trimmed; absent when
// there is none or it is empty.
std::optional<std::string> cpuinfo_model_name(std::string_view cpuinfo);

}  // namespace pelorin
