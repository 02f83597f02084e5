// The data folder on real folders, the same on every platform: LOCALAPPDATA names the base
// whatever its length or characters, a folder chosen at start-up is used as it is, and a
// checkpoint goes there and comes back.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "scoped_env.hpp"
#include "state/checkpoint.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

using test::ScopedEnv;
using test::TempDir;
using test::utf8_of;
namespace fs = std::filesystem;

// The folder is the base's PelorinWorker, made with its missing parents, and holds a
// checkpoint that loads back.
void expect_data_folder_under(const fs::path& base, const std::string& what) {
    const ScopedEnv state("STATE_DIRECTORY", std::nullopt);
    const ScopedEnv local("LOCALAPPDATA", utf8_of(base));
    const fs::path folder = data_folder();
    EXPECT_EQ(folder, base / "PelorinWorker") << what;
    EXPECT_TRUE(fs::is_directory(folder)) << what;
    EXPECT_EQ(data_folder(), folder) << what << ": an existing folder is no error";
    save_checkpoint(Checkpoint{"L-" + std::to_string(what.size()), "10", "20", 4, {}});
    EXPECT_TRUE(fs::is_regular_file(folder / "checkpoint.json")) << what;
    const auto loaded = load_stored_checkpoint().checkpoint;
    ASSERT_TRUE(loaded.has_value()) << what;
    EXPECT_EQ(loaded->lease_id, "L-" + std::to_string(what.size())) << what;
    EXPECT_EQ(loaded->offset, 4u) << what;
}

TEST(DataFolder, LocalAppDataIsTheBaseWhateverItsCharacters) {
    const char* names[] = {
        "plain",
        "with blanks and (brackets)",
        "Zo\xC3\xAB \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF",  // Latin, Japanese
        "clef \xF0\x9D\x84\x9E",                           // outside the 16-bit plane: a surrogate pair in UTF-16
    };
    for (const char* name : names) {
        TempDir dir;
        expect_data_folder_under(dir.path() / test::path_of_utf8(name) / "deep", name);
    }
}

// A profile folder can be longer than the 260 characters of MAX_PATH; a base cut short, or
// dropped, would put the data somewhere else (the working directory).
TEST(DataFolder, BaseLongerThanMaxPathIsUsedWhole) {
    TempDir dir;
    fs::path base = dir.path();
    while (utf8_of(base).size() <= 300) base /= std::string(40, 'x') + std::to_string(utf8_of(base).size());
    const bool stray_before = fs::exists(fs::current_path() / "PelorinWorker");
    expect_data_folder_under(base, "a base of " + std::to_string(utf8_of(base).size()) + " characters");
    EXPECT_EQ(fs::exists(fs::current_path() / "PelorinWorker"), stray_before) << "nothing in the working directory";
}

// --data-dir: the folder as given, relative to the working directory of the moment, in place
// of the environment's choice until it is cleared.
TEST(DataFolder, ChosenFolderIsUsedAsItIs) {
    test::TempDataFolder data;
    const fs::path previous = fs::current_path();
    fs::current_path(data.base());
    set_data_folder(fs::path("given") / "deep");
    fs::current_path(previous);
    const fs::path chosen = data.base() / "given" / "deep";
    EXPECT_EQ(data_folder(), chosen);
    save_checkpoint(Checkpoint{"L", "10", "20", 4, {}});
    EXPECT_TRUE(fs::is_regular_file(chosen / "checkpoint.json"));
    EXPECT_FALSE(fs::exists(data.folder())) << "nothing under LOCALAPPDATA";
    set_data_folder({});
    EXPECT_EQ(data_folder(), data.folder());
}

// Looking at what is stored (the status report, a run's first read of its identity) makes
// nothing; only a write makes the folder.
TEST(DataFolder, ReadingMakesNoFolder) {
    test::TempDataFolder data;
    set_data_folder(data.base() / "sub" / "dir");
    EXPECT_EQ(data_folder_location(), data.base() / "sub" / "dir");
    EXPECT_FALSE(load_stored_checkpoint().checkpoint.has_value());
    delete_checkpoint();
    set_aside_checkpoint();
    EXPECT_FALSE(fs::exists(data.base() / "sub"));
    EXPECT_FALSE(fs::exists(data.folder()));
    save_checkpoint(Checkpoint{"L", "10", "20", 4, {}});
    EXPECT_TRUE(fs::is_regular_file(data.base() / "sub" / "dir" / "checkpoint.json"));
    set_data_folder({});
}

TEST(DataFolder, UncreatableFolderIsAFilesystemErrorNamingTheCall) {
    TempDir dir;
    test::write_file(dir.path() / "file", "x");
    ScopedEnv local("LOCALAPPDATA", utf8_of(dir.path() / "file"));
    try {
        data_folder();
        FAIL() << "no error for a base that is a file";
    } catch (const fs::filesystem_error& e) {
        EXPECT_NE(std::string(e.what()).find("create_directories"), std::string::npos) << e.what();
        EXPECT_EQ(e.path1(), dir.path() / "file" / "PelorinWorker");
    }
}

}  // namespace
}  // namespace pelorin
