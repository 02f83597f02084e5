// The Windows base: LOCALAPPDATA, else the system's temporary directory (TMP, then TEMP).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "scoped_env.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;

TEST(DataFolder, WithoutLocalAppDataTheTemporaryDirectoryIsTheBase) {
    test::TempDir dir;
    const fs::path temp = dir.path() / "temp";
    fs::create_directories(temp);
    const ScopedEnv local("LOCALAPPDATA", std::nullopt);
    const ScopedEnv tmp("TMP", test::utf8_of(temp));
    const ScopedEnv temp_env("TEMP", test::utf8_of(temp));
    const fs::path folder = data_folder();
    EXPECT_EQ(fs::weakly_canonical(folder), fs::weakly_canonical(temp / "PelorinWorker"));
    EXPECT_TRUE(fs::is_directory(temp / "PelorinWorker"));
}

}  // namespace
}  // namespace pelorin
