// POSIX permissions: a folder the worker may not write into.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "scoped_env.hpp"
#include "state/checkpoint.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

TEST(Checkpoint, ReadOnlyFolderFailsTheWriteAndKeepsThePreviousCheckpoint) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    test::TempDataFolder data;
    save_checkpoint(Checkpoint{"L", "0", "9", 5, {}});
    const fs::path file = data_folder() / "checkpoint.json";
    const std::string before = test::read_file(file);
    fs::permissions(data.folder(), fs::perms::owner_read | fs::perms::owner_exec);
    try {
        save_checkpoint(Checkpoint{"L", "0", "9", 6, {}});
        ADD_FAILURE() << "no error in a read-only folder";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not write local checkpoint");
    }
    fs::permissions(data.folder(), fs::perms::owner_all);
    EXPECT_EQ(test::read_file(file), before);
}

}  // namespace
}  // namespace pelorin
