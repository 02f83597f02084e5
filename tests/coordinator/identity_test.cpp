// The identity as stored and loaded, through the platform's store (a plain owner-only file on
// POSIX, data protection on Windows).
#include <gtest/gtest.h>

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

TEST(WorkerIdentity, StoredIdentityRoundTrips) {
    TempDataFolder data;
    const WorkerIdentity stored{"0123456789abcdef0123456789abcdef", "w-17", "tok.en-1"};
    write_identity_text(identity_text(stored));
    EXPECT_EQ(read_identity_text(),
              R"({"client_id":"0123456789abcdef0123456789abcdef","worker_id":"w-17","token":"tok.en-1"})");
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin.tmp"));
    const WorkerIdentity loaded = load_identity();
    EXPECT_EQ(loaded.client_id, stored.client_id);
    EXPECT_EQ(loaded.worker_id, stored.worker_id);
    EXPECT_EQ(loaded.token, stored.token);

    // A second registration replaces it whole.
    write_identity_text(identity_text({"c", "w-18", "t2"}));
    EXPECT_EQ(load_identity().token, "t2");
}

// A worker that went on without its identity stored would register anew on every start.
TEST(WorkerIdentity, AFailedSaveIsReportedAndKeepsTheStoredOne) {
    const std::string first = identity_text({"0123456789abcdef0123456789abcdef", "w-1", "t1"});
    const std::string second = identity_text({"0123456789abcdef0123456789abcdef", "w-1", "t2"});
    struct Case {
        const char* name;
        const char* blocked;  // a folder in the place of this file
    };
    for (const Case c : {Case{"temporary file blocked", "identity.bin.tmp"}, Case{"identity.bin a folder", "identity.bin"}}) {
        TempDataFolder data;
        const bool has_first = std::string(c.blocked) != "identity.bin";
        if (has_first) write_identity_text(first);
        fs::create_directories(data.folder() / c.blocked / "occupied");
        try {
            write_identity_text(second);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), kIdentityNotStored) << c.name;
        }
        EXPECT_EQ(read_identity_text(), has_first ? first : "") << c.name;
    }
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
        write_identity_text(c.text);
        const WorkerIdentity id = load_identity();
        EXPECT_EQ(id.client_id, c.expected.client_id) << c.text;
        EXPECT_EQ(id.worker_id, c.expected.worker_id) << c.text;
        EXPECT_EQ(id.token, c.expected.token) << c.text;
    }
}

TEST(WorkerIdentity, UnusableStoredTokenIsRefusedAndKept) {
    TempDataFolder data;
    const std::string text = "{\"client_id\":\"c\",\"worker_id\":\"w\",\"token\":\"t\r\nX-Injected: 1\"}";
    write_identity_text(text);
    const std::string stored = read_file(data.folder() / "identity.bin");
    try {
        load_identity();
        FAIL() << "a token with a line break was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Stored identity holds an unusable token")) << e.what();
    }
    EXPECT_EQ(read_file(data.folder() / "identity.bin"), stored);
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
