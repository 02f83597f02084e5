// The hardware text: the processor as the environment or /proc/cpuinfo names it, then the GPU
// description.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "gpu/cuda_backend.hpp"
#include "scoped_env.hpp"
#include "worker/hardware_text.hpp"

namespace pelorin {
namespace {

TEST(HardwareText, ProcessorIdentifierThenTheGpuDescription) {
    const std::string gpu = cuda_device_description();
    // Without the variable: the model name where the system tells it (Linux), else "CPU".
    std::string unset_name = "CPU";
    if (std::ifstream in("/proc/cpuinfo"); in) {
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        unset_name = cpuinfo_model_name(text).value_or("CPU");
        EXPECT_NE(unset_name, "CPU") << "this machine's /proc/cpuinfo names no model";
    }
    const std::optional<std::string> cases[][2] = {
        {"AMD64 Family 25 Model 17 Stepping 1, AuthenticAMD", "AMD64 Family 25 Model 17 Stepping 1, AuthenticAMD"},
        {"Zo\xC3\xAB \xC2\xB7 CPU", "Zo\xC3\xAB \xC2\xB7 CPU"},  // converted to UTF-8 unchanged
        {std::nullopt, unset_name},
        {std::string(), unset_name},  // empty is as good as unset
    };
    for (const auto& [value, processor] : cases) {
        const test::ScopedEnv env("PROCESSOR_IDENTIFIER", value);
        EXPECT_EQ(hardware_text(), *processor + gpu) << value.value_or("(unset)");
    }
}

TEST(HardwareText, ModelNameFromCpuinfo) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel\t\t: 17\nmodel name\t: AMD EPYC 7B13 64-Core Processor  \n"
         "processor\t: 1\nmodel name\t: second\n",
         "AMD EPYC 7B13 64-Core Processor"},                               // the first one, trimmed
        {"model\t\t: 85\nmodel name\t: Intel(R) Xeon(R) CPU @ 2.20GHz", "Intel(R) Xeon(R) CPU @ 2.20GHz"},  // no last LF
        {"model name\t:\r\n", std::nullopt},                             // empty
        {"processor\t: 0\nCPU part\t: 0xd0c\n", std::nullopt},          // none (an ARM system)
        {"", std::nullopt},
    };
    for (const auto& [text, name] : cases) EXPECT_EQ(cpuinfo_model_name(text), name) << text;
}

}  // namespace
}  // namespace pelorin
