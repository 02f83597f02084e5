// identity.bin on POSIX: the text itself, in a file of mode 0600 inside a folder of mode 0700.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "coordinator/identity.hpp"
#include "coordinator/identity_store.hpp"
#include "scoped_env.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDataFolder;
using test::write_file;

unsigned mode_of(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0xffff;
    return st.st_mode & 07777;
}

TEST(IdentityStore, PlainTextOwnerOnly) {
    TempDataFolder data;
    // A folder and a stale temporary file from before, both open to everyone.
    fs::create_directories(data.folder());
    ::chmod(data.folder().c_str(), 0755);
    write_file(data.folder() / "identity.bin.tmp", "stale");
    ::chmod((data.folder() / "identity.bin.tmp").c_str(), 0644);

    const std::string text = identity_text({"0123456789abcdef0123456789abcdef", "w-17", "tok.en-1"});
    write_identity_text(text);
    const fs::path file = data.folder() / "identity.bin";
    EXPECT_EQ(read_file(file), text);
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(data.folder()), 0700u);
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin.tmp"));
}

}  // namespace
}  // namespace pelorin
