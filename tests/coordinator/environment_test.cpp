// The process environment and the program's own file, through the platform layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "coordinator/environment.hpp"
#include "coordinator/module_path.hpp"
#include "sha256/sha256.hpp"
#include "scoped_env.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;

TEST(Environment, ValuesComeBackAsUtf8AndEmptyIsUnset) {
    const std::string long_value(5000, 'v');  // longer than any first guess at a buffer
    const std::optional<std::string> cases[] = {
        "x",
        "Intel64 Family 6 Model 85 Stepping 7, GenuineIntel",
        "Zo\xC3\xAB \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF \xF0\x9D\x84\x9E",
        long_value,
        std::string(),  // empty counts as unset
        std::nullopt,
    };
    for (const auto& value : cases) {
        const ScopedEnv env("PELORIN_TEST_VARIABLE", value);
        const std::optional<std::string> expected =
            value && !value->empty() ? value : std::optional<std::string>();
        EXPECT_EQ(environment_variable("PELORIN_TEST_VARIABLE"), expected) << value.value_or("(unset)").substr(0, 60);
    }
}

TEST(ModulePath, IsThisTestProgramsFile) {
    const fs::path path = module_path();
    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_EQ(path.stem(), "coordinator_tests") << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_EQ(sha256_file_hex(path).size(), 64u);
}

}  // namespace
}  // namespace pelorin
