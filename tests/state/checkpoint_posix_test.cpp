// POSIX: a disk that takes no more bytes. A file-size limit binds every user, root included,
// as a full disk or a quota would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <stdexcept>

#include "scoped_env.hpp"
#include "state/checkpoint.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

// Files of this process may not grow beyond `bytes` while it lives; a write past it fails
// with EFBIG instead of raising SIGXFSZ, as in the program, which ignores that signal (the
// program itself under a limit is in tests/app).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_handler_);
    }

private:
    rlimit saved_{};
    void (*previous_handler_)(int) = nullptr;
};

TEST(Checkpoint, AFullDiskFailsTheWriteAndKeepsThePreviousCheckpoint) {
    test::TempDataFolder data;
    save_checkpoint(Checkpoint{"L", "0", "9", 5, {}});
    const fs::path file = data_folder() / "checkpoint.json";
    const std::string before = test::read_file(file);
    {
        const FileSizeLimit full(64);  // well short of a checkpoint's text
        try {
            save_checkpoint(Checkpoint{"L", "0", "9", 6, {}});
            ADD_FAILURE() << "no error on a full disk";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Could not write local checkpoint");
        }
    }
    EXPECT_EQ(test::read_file(file), before);
    const auto loaded = load_checkpoint("L", "0", "9", ResumeMatch{}).checkpoint;
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->offset, 5u);
}

}  // namespace
}  // namespace pelorin
