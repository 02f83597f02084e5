#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "coordinator/identity_store.hpp"
#include "coordinator/random_hex.hpp"
#include "coordinator/identity.hpp"
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

TEST(WorkerIdentity, StoredIdentityRoundTripsOwnerOnly) {
    TempDataFolder data;
    // A folder and a stale temporary file from before, both open to everyone.
    fs::create_directories(data.folder());
    ::chmod(data.folder().c_str(), 0755);
    write_file(data.folder() / "identity.bin.tmp", "stale");
    ::chmod((data.folder() / "identity.bin.tmp").c_str(), 0644);

    const WorkerIdentity stored{"0123456789abcdef0123456789abcdef", "w-17", "tok.en-1"};
    write_identity_text(identity_text(stored));
    const fs::path file = data.folder() / "identity.bin";
    EXPECT_EQ(read_file(file),
              R"({"client_id":"0123456789abcdef0123456789abcdef","worker_id":"w-17","token":"tok.en-1"})");
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(data.folder()), 0700u);
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin.tmp"));

    const WorkerIdentity loaded = load_identity();
    EXPECT_EQ(loaded.client_id, stored.client_id);
    EXPECT_EQ(loaded.worker_id, stored.worker_id);
    EXPECT_EQ(loaded.token, stored.token);
}

TEST(WorkerIdentity, WithoutAFileAFreshClientIdAndNothingWritten) {
    TempDataFolder data;
    const WorkerIdentity first = load_identity();
    const WorkerIdentity second = load_identity();
    EXPECT_EQ(first.client_id.size(), 32u);
    EXPECT_EQ(first.client_id.find_first_not_of("0123456789abcdef"), std::string::npos) << first.client_id;
    EXPECT_NE(first.client_id, second.client_id);
    EXPECT_TRUE(first.worker_id.empty());
    EXPECT_TRUE(first.token.empty());
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin"));
}

TEST(WorkerIdentity, StoredMembersAreReadAsTheyStand) {
    struct Case {
        std::string text;
        WorkerIdentity expected;
    };
    const Case cases[] = {
        {R"({"client_id":"c1","worker_id":"w1","token":""})", {"c1", "w1", ""}},  // registers again with c1
        {R"({"token" : "t", "client_id":"c"})", {"c", "", "t"}},
        {"not json at all", {"", "", ""}},
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        write_file(data.folder() / "identity.bin", c.text);
        const WorkerIdentity id = load_identity();
        EXPECT_EQ(id.client_id, c.expected.client_id) << c.text;
        EXPECT_EQ(id.worker_id, c.expected.worker_id) << c.text;
        EXPECT_EQ(id.token, c.expected.token) << c.text;
    }
}

TEST(WorkerIdentity, UnusableStoredTokenIsRefusedAndKept) {
    TempDataFolder data;
    const std::string text = "{\"client_id\":\"c\",\"worker_id\":\"w\",\"token\":\"t\r\nX-Injected: 1\"}";
    write_file(data.folder() / "identity.bin", text);
    try {
        load_identity();
        FAIL() << "a token with a line break was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Stored identity holds an unusable token")) << e.what();
    }
    EXPECT_EQ(read_file(data.folder() / "identity.bin"), text);
}

TEST(RandomHex, LowerCaseHexOfTheAskedLength) {
    std::set<std::string> seen;
    for (const std::size_t bytes : {0u, 1u, 16u, 33u}) {
        const std::string hex = random_hex(bytes);
        EXPECT_EQ(hex.size(), 2 * bytes);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
        seen.insert(hex);
    }
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
}  // namespace pelorin
