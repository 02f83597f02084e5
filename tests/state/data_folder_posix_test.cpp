#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "scoped_env.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

// The Linux base: LOCALAPPDATA, then the XDG data home, then ~/.local/share, then the
// temporary directory.
TEST(DataFolder, BaseFollowsTheEnvironmentInOrderAndIsCreated) {
    struct Case {
        const char* name;
        std::optional<std::string> local, xdg, home, tmp;  // relative to the temp dir, "" kept empty
        const char* expected;                              // relative to the temp dir
    };
    const std::optional<std::string> unset;
    const Case cases[] = {
        {"LOCALAPPDATA first", "local/deep", "xdg", "home", "tmp", "local/deep/PelorinWorker"},
        {"XDG_DATA_HOME next", unset, "xdg", "home", "tmp", "xdg/PelorinWorker"},
        {"empty LOCALAPPDATA counts as unset", "", "xdg", "home", "tmp", "xdg/PelorinWorker"},
        {"relative XDG_DATA_HOME is ignored", unset, "REL", "home", "tmp", "home/.local/share/PelorinWorker"},
        {"HOME next", unset, unset, "home", "tmp", "home/.local/share/PelorinWorker"},
        {"temporary directory last", unset, unset, unset, "tmp", "tmp/PelorinWorker"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        fs::create_directories(dir.path() / "tmp");  // TMPDIR must exist to count
        auto value = [&](const std::optional<std::string>& v) -> std::optional<std::string> {
            if (!v) return std::nullopt;
            if (v->empty()) return std::string();
            if (*v == "REL") return std::string("relative/path");
            return (dir.path() / *v).string();
        };
        ScopedEnv local("LOCALAPPDATA", value(c.local));
        ScopedEnv xdg("XDG_DATA_HOME", value(c.xdg));
        ScopedEnv home("HOME", value(c.home));
        ScopedEnv tmp("TMPDIR", value(c.tmp));
        const fs::path folder = data_folder();
        EXPECT_EQ(folder, dir.path() / c.expected) << c.name;
        EXPECT_TRUE(fs::is_directory(folder)) << c.name;
        EXPECT_EQ(data_folder(), folder) << c.name << ": an existing folder is no error";
    }
}

}  // namespace
}  // namespace pelorin
