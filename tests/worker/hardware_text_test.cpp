// The hardware text: the processor as the environment names it, then the GPU description.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gpu/cuda_backend.hpp"
#include "scoped_env.hpp"
#include "worker/worker_run.hpp"

namespace pelorin {
namespace {

TEST(HardwareText, ProcessorIdentifierThenTheGpuDescription) {
    const std::string gpu = cuda_device_description();
    const std::optional<std::string> cases[][2] = {
        {"AMD64 Family 25 Model 17 Stepping 1, AuthenticAMD", "AMD64 Family 25 Model 17 Stepping 1, AuthenticAMD"},
        {"Zo\xC3\xAB \xC2\xB7 CPU", "Zo\xC3\xAB \xC2\xB7 CPU"},  // converted to UTF-8 unchanged
        {std::nullopt, "CPU"},
        {std::string(), "CPU"},  // empty is as good as unset
    };
    for (const auto& [value, processor] : cases) {
        const test::ScopedEnv env("PROCESSOR_IDENTIFIER", value);
        EXPECT_EQ(hardware_text(), *processor + gpu) << value.value_or("(unset)");
    }
}

}  // namespace
}  // namespace pelorin
