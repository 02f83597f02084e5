// POSIX: settings.json and totals.json saved on a disk that is full: a real file system of
// 64 KiB (tmpfs) mounted over the data folder in a mount namespace of the test's own, filled
// to the last byte. The save fails with its message and the file saved before stays whole.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "scoped_env.hpp"
#include "state/installation_totals.hpp"
#include "state/worker_settings.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

// A tmpfs of `size` over `folder`, seen by this process alone; unmounted at the end. Needs the
// right to make a mount namespace (root, as the development machines and CI run).
class SmallDisk {
public:
    SmallDisk(const fs::path& folder, const char* size) : folder_(folder) {
        fs::create_directories(folder);
        if (unshare(CLONE_NEWNS) != 0) {
            error_ = std::string("unshare: ") + std::strerror(errno);
            return;
        }
        // Nothing mounted here reaches the rest of the machine.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
            error_ = std::string("mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) umount(folder_.c_str());
    }
    const std::string& error() const { return error_; }

    // Writes a filler file until the disk takes no more bytes.
    void fill() {
        std::ofstream filler(folder_ / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
        // Single bytes too, so that not even a short file fits.
        filler.clear();
        while (filler.put('x') && filler.flush()) {
        }
    }
    void free_space() { fs::remove(folder_ / "filler"); }

private:
    fs::path folder_;
    std::string error_;
    bool mounted_ = false;
};

TEST(SmallFiles, AFullDiskFailsTheSaveAndKeepsTheFileBefore) {
    test::TempDataFolder data;
    SmallDisk disk(data.folder(), "64k");
    if (!disk.error().empty()) GTEST_SKIP() << "no file system of the test's own: " << disk.error();

    const WorkerSettings before{1, true, false, 3};
    save_settings(before);
    InstallationTotals totals{2, BigUint(2048), "2026-12-10"};
    save_totals(totals);
    const std::string settings_before = test::read_file(data.folder() / "settings.json");
    const std::string totals_before = test::read_file(data.folder() / "totals.json");

    disk.fill();
    try {
        save_settings(WorkerSettings{2, false, true, 10});
        ADD_FAILURE() << "saving settings on a full disk succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not write settings");
    }
    totals.units_accepted = 3;
    try {
        save_totals(totals);
        ADD_FAILURE() << "saving totals on a full disk succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not write this computer's totals");
    }
    EXPECT_EQ(test::read_file(data.folder() / "settings.json"), settings_before);
    EXPECT_EQ(test::read_file(data.folder() / "totals.json"), totals_before);
    EXPECT_EQ(load_settings().settings.profile, 1);
    ASSERT_TRUE(load_totals().totals);
    EXPECT_EQ(load_totals().totals->units_accepted, 2u);

    // Room again: the next save goes through whole.
    disk.free_space();
    save_totals(totals);
    EXPECT_EQ(load_totals().totals->units_accepted, 3u);
}

}  // namespace
}  // namespace pelorin
