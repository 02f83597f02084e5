#include <gtest/gtest.h>
#include <sys/stat.h>

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

// The chosen folder goes back to the environment's choice at the end of the scope.
struct ChosenFolder {
    explicit ChosenFolder(const std::string& folder) { set_data_folder(folder); }
    ~ChosenFolder() { set_data_folder({}); }
};

unsigned mode_of(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xffff;
}

// The Linux order: the folder set at start-up (--data-dir), systemd's STATE_DIRECTORY (both
// used as they are), then LOCALAPPDATA, the XDG data home, ~/.local/share and the temporary
// directory, each followed by PelorinWorker.
TEST(DataFolder, FollowsTheOrderOfChoicesAndIsCreatedOwnerOnly) {
    struct Case {
        const char* name;
        std::optional<std::string> chosen, state, local, xdg, home, tmp;  // relative to the temp dir
        const char* expected;                                             // relative to the temp dir
    };
    const std::optional<std::string> unset;
    const Case cases[] = {
        {"the chosen folder first, as is", "chosen/deep", "state", "local", "xdg", "home", "tmp", "chosen/deep"},
        {"STATE_DIRECTORY next, as is", unset, "state/deep", "local", "xdg", "home", "tmp", "state/deep"},
        {"the first of several state folders", unset, "state/a:ABS:state/c", "local", "xdg", "home", "tmp", "state/a"},
        {"empty STATE_DIRECTORY counts as unset", unset, "", "local", "xdg", "home", "tmp", "local/PelorinWorker"},
        {"relative STATE_DIRECTORY is ignored", unset, "REL", "local", "xdg", "home", "tmp", "local/PelorinWorker"},
        {"LOCALAPPDATA next", unset, unset, "local/deep", "xdg", "home", "tmp", "local/deep/PelorinWorker"},
        {"XDG_DATA_HOME next", unset, unset, unset, "xdg", "home", "tmp", "xdg/PelorinWorker"},
        {"empty LOCALAPPDATA counts as unset", unset, unset, "", "xdg", "home", "tmp", "xdg/PelorinWorker"},
        {"relative XDG_DATA_HOME is ignored", unset, unset, unset, "REL", "home", "tmp", "home/.local/share/PelorinWorker"},
        {"HOME next", unset, unset, unset, unset, "home", "tmp", "home/.local/share/PelorinWorker"},
        {"temporary directory last", unset, unset, unset, unset, unset, "tmp", "tmp/PelorinWorker"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        fs::create_directories(dir.path() / "tmp");  // TMPDIR must exist to count
        // Each "ABS:" stands for the temp dir; "REL" is a relative path.
        auto value = [&](const std::optional<std::string>& v) -> std::optional<std::string> {
            if (!v || v->empty()) return v;
            if (*v == "REL") return std::string("relative/path");
            std::string text = (dir.path() / *v).string();
            for (std::size_t at; (at = text.find("ABS:")) != std::string::npos;)
                text.replace(at, 4, dir.path().string() + "/");
            return text;
        };
        ScopedEnv state("STATE_DIRECTORY", value(c.state));
        ScopedEnv local("LOCALAPPDATA", value(c.local));
        ScopedEnv xdg("XDG_DATA_HOME", value(c.xdg));
        ScopedEnv home("HOME", value(c.home));
        ScopedEnv tmp("TMPDIR", value(c.tmp));
        const ChosenFolder chosen(value(c.chosen).value_or(""));
        const fs::path folder = data_folder();
        EXPECT_EQ(folder, dir.path() / c.expected) << c.name;
        EXPECT_EQ(mode_of(folder), 0700u) << c.name;
        EXPECT_EQ(data_folder(), folder) << c.name << ": an existing folder is no error";
    }
}

}  // namespace
}  // namespace pelorin
