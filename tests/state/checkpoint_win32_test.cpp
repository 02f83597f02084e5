// The replacing move on Windows: another program holding checkpoint.json open without
// delete sharing (a backup tool, a scanner) blocks it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "scoped_env.hpp"
#include "state/checkpoint.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

TEST(Checkpoint, MoveOntoAFileHeldOpenFailsAndKeepsThePreviousCheckpoint) {
    test::TempDataFolder data;
    save_checkpoint(Checkpoint{"L", "0", "9", 5, {}});
    const fs::path file = data_folder() / "checkpoint.json";
    const std::string before = test::read_file(file);

    const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string error = "(no error)";
    try {
        save_checkpoint(Checkpoint{"L", "0", "9", 6, {}});
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    CloseHandle(held);
    EXPECT_EQ(error, "Could not commit local checkpoint");
    EXPECT_EQ(test::read_file(file), before);

    // Once it lets go, the next save replaces the file and uses up the temporary one.
    save_checkpoint(Checkpoint{"L", "0", "9", 7, {}});
    EXPECT_NE(test::read_file(file).find("\"offset\":7,"), std::string::npos) << test::read_file(file);
    EXPECT_FALSE(fs::exists(data.folder() / "checkpoint.json.tmp"));
}

}  // namespace
}  // namespace pelorin
