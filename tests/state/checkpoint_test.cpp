#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "scoped_env.hpp"
#include "state/checkpoint.hpp"
#include "state/data_folder.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDataFolder;
using test::write_file;

Checkpoint sample_checkpoint() {
    Checkpoint cp;
    cp.lease_id = "L-1";
    cp.begin = "4294967296";
    cp.end = "4295032832";
    cp.offset = 65536;
    UnitResult& r = cp.result;
    r.backend = "record-recursive";
    r.checked = BigUint::from_limbs({0, 1});
    r.candidates = BigUint(7);
    r.survivors_evaluated = BigUint(5);
    r.proof_exclusions = BigUint(3);
    r.steps = BigUint(1234567);
    r.u64_completions = BigUint(4);
    r.u128_completions = BigUint(1);
    r.proof_hash = "ab12";
    r.checksum_sum = ~std::uint64_t{0};
    r.checksum_xor = 42;
    r.elapsed_seconds = 1.0 / 3.0;
    r.transfer_seconds = 1e-7;
    r.valid = false;
    r.message = "counterexample or invalid start at 27";
    // Not stored: these come back as defaults.
    r.overflow_starts = BigUint(9);
    r.accounting = "survivor-frontier";
    r.mode = "other";
    return cp;
}

constexpr const char* kSampleText =
    "{\"lease_id\":\"L-1\",\"begin\":\"4294967296\",\"end\":\"4295032832\",\"offset\":65536,"
    "\"backend\":\"record-recursive\",\"checked\":\"18446744073709551616\",\"candidates\":\"7\","
    "\"survivors\":\"5\",\"proof_exclusions\":\"3\",\"frontier_nodes\":\"0\",\"steps\":\"1234567\","
    "\"u64\":\"4\",\"u128\":\"1\",\"u256\":\"0\",\"bigint\":\"0\",\"proof_hash\":\"ab12\","
    "\"checksum_sum\":18446744073709551615,\"checksum_xor\":42,\"elapsed\":\"0.333333333333\","
    "\"kernel\":\"0\",\"transfer\":\"1e-07\",\"valid\":false,"
    "\"message\":\"counterexample or invalid start at 27\"}\n";

fs::path checkpoint_file() { return data_folder() / "checkpoint.json"; }

TEST(Checkpoint, SavedTextHasTheFixedMembersThenValidityAndMessage) {
    TempDataFolder data;
    save_checkpoint(sample_checkpoint());
    EXPECT_EQ(read_file(checkpoint_file()), kSampleText);
    EXPECT_FALSE(fs::exists(data.folder() / "checkpoint.json.tmp"));
}

TEST(Checkpoint, RoundTripKeepsEveryStoredValueIncludingAFailedRecord) {
    TempDataFolder data;
    const Checkpoint saved = sample_checkpoint();
    save_checkpoint(saved);
    const std::optional<Checkpoint> loaded = load_checkpoint("L-1", "4294967296", "4295032832");
    ASSERT_TRUE(loaded.has_value());
    const UnitResult& r = loaded->result;
    EXPECT_EQ(loaded->offset, 65536u);
    EXPECT_EQ(r.backend, "record-recursive");
    EXPECT_EQ(r.checked, saved.result.checked);
    EXPECT_EQ(r.candidates, BigUint(7));
    EXPECT_EQ(r.survivors_evaluated, BigUint(5));
    EXPECT_EQ(r.proof_exclusions, BigUint(3));
    EXPECT_EQ(r.steps, BigUint(1234567));
    EXPECT_EQ(r.u64_completions, BigUint(4));
    EXPECT_EQ(r.u128_completions, BigUint(1));
    EXPECT_EQ(r.proof_hash, "ab12");
    EXPECT_EQ(r.checksum_sum, ~std::uint64_t{0});
    EXPECT_EQ(r.checksum_xor, 42u);
    EXPECT_EQ(r.elapsed_seconds, 0.333333333333);  // rounded to 12 significant digits
    EXPECT_EQ(r.transfer_seconds, 1e-7);
    // A counterexample found before a restart must survive it.
    EXPECT_FALSE(r.valid);
    EXPECT_EQ(r.message, "counterexample or invalid start at 27");
    EXPECT_EQ(r.mode, "verify");
    EXPECT_EQ(r.begin, "4294967296");
    EXPECT_EQ(r.end, "4295032832");
    EXPECT_TRUE(r.overflow_starts.is_zero());
    EXPECT_EQ(r.accounting, "per-start");
    EXPECT_EQ(r.format, "pelorin-result-v2");
}

TEST(Checkpoint, SavingAgainReplacesTheFileWhole) {
    TempDataFolder data;
    Checkpoint cp = sample_checkpoint();
    save_checkpoint(cp);
    cp.offset = 7;
    cp.result.valid = true;
    cp.result.message.clear();
    save_checkpoint(cp);
    const std::string text = read_file(checkpoint_file());
    EXPECT_NE(text.find("\"offset\":7,"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(",\"valid\":true,\"message\":\"\"}\n")) << text;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(data.folder())) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);
}

TEST(Checkpoint, OlderFilesAndOtherLayoutsLoad) {
    TempDataFolder data;
    // No valid, message, checked or checksum_sum; members reordered, blanks around colons.
    write_file(checkpoint_file(),
               "{ \"end\" :\t\"100\", \"steps\" : \"12\",\n\"lease_id\": \"L\", \"begin\":\"0\", \"offset\" : 100,"
               " \"elapsed\":\"2.5\" }");
    const auto cp = load_checkpoint("L", "0", "100");
    ASSERT_TRUE(cp.has_value());
    EXPECT_EQ(cp->offset, 100u);
    EXPECT_EQ(cp->result.steps, BigUint(12));
    EXPECT_TRUE(cp->result.checked.is_zero());
    EXPECT_EQ(cp->result.checksum_sum, 0u);
    EXPECT_EQ(cp->result.elapsed_seconds, 2.5);
    EXPECT_TRUE(cp->result.valid);
    EXPECT_EQ(cp->result.message, "");
}

TEST(Checkpoint, AcceptedOnlyForTheSameLeaseAndAnOffsetWithinIt) {
    struct Case {
        const char* lease_id;
        const char* begin;
        const char* end;
        std::uint64_t offset;
        bool accepted;
    };
    const Case cases[] = {
        {"L", "10", "20", 5, true},
        {"M", "10", "20", 5, false},   // other lease
        {"L", "11", "20", 5, false},   // other begin
        {"L", "10", "21", 5, false},   // same lease id, other end
        {"L", "10", "20", 10, true},   // offset equal to the length
        {"L", "10", "20", 11, false},  // one past it
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        save_checkpoint(Checkpoint{"L", "10", "20", c.offset, {}});
        const std::string before = read_file(checkpoint_file());
        EXPECT_EQ(load_checkpoint(c.lease_id, c.begin, c.end).has_value(), c.accepted)
            << c.lease_id << " " << c.begin << " " << c.end << " offset " << c.offset;
        EXPECT_EQ(read_file(checkpoint_file()), before) << "a checkpoint is never changed by loading";
    }
    TempDataFolder data;
    Checkpoint cp;
    cp.lease_id = "top";
    cp.begin = "340282366920938463463374607431768211451";
    cp.end = "2^128";
    cp.offset = 5;
    save_checkpoint(cp);
    EXPECT_TRUE(load_checkpoint("top", cp.begin, "2^128").has_value()) << "an end of 2^128";
}

// A lease that expired comes back under a new id: the work already done is the same work when
// the range, the backend and its proof table are.
TEST(Checkpoint, AnotherLeaseIdIsResumedForTheSameRangeAndBackend) {
    const ResumeMatch same{"record-recursive", "abc"};
    struct Case {
        const char* name;
        const char* lease_id;
        const char* begin;
        const char* end;
        std::optional<ResumeMatch> match;
        bool accepted;
    };
    const Case cases[] = {
        {"same lease", "L", "10", "20", std::nullopt, true},
        {"same lease, match given", "L", "10", "20", same, true},
        {"new lease, same range and backend", "N", "10", "20", same, true},
        {"new lease, no match asked", "N", "10", "20", std::nullopt, false},
        {"new lease, other backend", "N", "10", "20", ResumeMatch{"cpu-sieve", "abc"}, false},
        {"new lease, other proof hash", "N", "10", "20", ResumeMatch{"record-recursive", "abd"}, false},
        {"new lease, other begin", "N", "11", "20", same, false},
        {"new lease, other end", "N", "10", "21", same, false},
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        Checkpoint saved{"L", "10", "20", 5, {}};
        saved.result.backend = "record-recursive";
        saved.result.proof_hash = "abc";
        saved.result.checked = BigUint(5);
        save_checkpoint(saved);
        const auto loaded = load_checkpoint(c.lease_id, c.begin, c.end, c.match);
        ASSERT_EQ(loaded.has_value(), c.accepted) << c.name;
        if (!loaded) continue;
        EXPECT_EQ(loaded->lease_id, c.lease_id) << c.name << ": kept under the lease in hand from now on";
        EXPECT_EQ(loaded->offset, 5u) << c.name;
        EXPECT_EQ(loaded->result.checked, BigUint(5)) << c.name;
    }
}

// "nan" or "inf" would go out as a bare word in the result JSON and be refused on every run.
TEST(Checkpoint, TimesMustBeFiniteAndNotNegative) {
    const std::pair<const char*, bool> cases[] = {
        {"\"elapsed\":\"nan\"", false},  {"\"kernel\":\"inf\"", false},    {"\"transfer\":\"-inf\"", false},
        {"\"elapsed\":\"-1\"", false},   {"\"kernel\":\"-0.5\"", false},   {"\"elapsed\":\"NAN(1)\"", false},
        {"\"elapsed\":\"0\"", true},     {"\"kernel\":\"1e300\"", true},   {"\"transfer\":\"2.5\"", true},
    };
    for (const auto& [member, accepted] : cases) {
        TempDataFolder data;
        write_file(checkpoint_file(), std::string("{\"lease_id\":\"L\",\"begin\":\"0\",\"end\":\"9\",") + member + "}\n");
        EXPECT_EQ(load_checkpoint("L", "0", "9").has_value(), accepted) << member;
    }
}

TEST(Checkpoint, MissingFileIsAbsentAndDeleteIgnoresIt) {
    TempDataFolder data;
    EXPECT_FALSE(load_checkpoint("L", "0", "1").has_value());
    delete_checkpoint();
    save_checkpoint(sample_checkpoint());
    delete_checkpoint();
    EXPECT_FALSE(fs::exists(checkpoint_file()));
}

TEST(Checkpoint, MalformedMembersFailWithTheirMessageAndLeaveTheFile) {
    struct Case {
        std::string members;  // inserted after the lease members
        const char* message;
        const char* kind;
    };
    const Case cases[] = {
        {"\"checked\":\"12x\"", "invalid arbitrary-width integer", "invalid_argument"},
        {"\"steps\":\"\"", "empty arbitrary-width integer", "invalid_argument"},
        {"\"offset\":18446744073709551616", "stoull argument out of range", "out_of_range"},
        {"\"checksum_xor\":99999999999999999999", "stoull argument out of range", "out_of_range"},
        {"\"elapsed\":\"soon\"", "invalid stod argument", "invalid_argument"},
        {"\"kernel\":\"1e999\"", "stod argument out of range", "out_of_range"},
        // Subnormal, so its decimal text would not load again.
        {"\"transfer\":\"0x1p-1074\"", "stod argument out of range", "out_of_range"},
        {"\"proof_hash\":\"ab\\\\\"", "Local checkpoint holds an unusable proof_hash", "runtime_error"},
        {"\"backend\":\"cpu\tsieve\"", "Local checkpoint holds an unusable backend", "runtime_error"},
        {"\"message\":\"a\nb\"", "Local checkpoint holds an unusable message", "runtime_error"},
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        const std::string text = "{\"lease_id\":\"L\",\"begin\":\"0\",\"end\":\"9\"," + c.members + "}\n";
        write_file(checkpoint_file(), text);
        std::string kind = "none", message;
        try {
            load_checkpoint("L", "0", "9");
        } catch (const std::invalid_argument& e) {
            kind = "invalid_argument";
            message = e.what();
        } catch (const std::out_of_range& e) {
            kind = "out_of_range";
            message = e.what();
        } catch (const std::runtime_error& e) {
            kind = "runtime_error";
            message = e.what();
        }
        EXPECT_EQ(kind, c.kind) << c.members;
        EXPECT_TRUE(message.starts_with(c.message)) << c.members << " gave: " << message;
        EXPECT_EQ(read_file(checkpoint_file()), text) << c.members;
    }
    TempDataFolder data;
    write_file(checkpoint_file(), "{\"lease_id\":\"L\",\"begin\":\"9\",\"end\":\"0\"}");
    EXPECT_THROW(
        {
            try {
                load_checkpoint("L", "9", "0");
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "range end is below begin");
                throw;
            }
        },
        std::invalid_argument);
}

// The write and the replacing move fail on their own; the old checkpoint survives both. (A
// read-only folder, and a file held open by another program, are in the platform files.)
TEST(Checkpoint, FailedSaveLeavesThePreviousCheckpoint) {
    auto expect_failure = [](const char* what, const char* message) {
        try {
            Checkpoint cp = sample_checkpoint();
            cp.offset = 1;
            save_checkpoint(cp);
            ADD_FAILURE() << what << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), message) << what;
        }
    };
    {
        TempDataFolder data;
        save_checkpoint(sample_checkpoint());
        fs::create_directory(data.folder() / "checkpoint.json.tmp");  // the temporary file cannot be written
        expect_failure("temporary path blocked", "Could not write local checkpoint");
        EXPECT_EQ(read_file(checkpoint_file()), kSampleText);
    }
    {
        TempDataFolder data;
        fs::create_directories(checkpoint_file() / "occupied");  // a folder where the file belongs
        expect_failure("target is a folder", "Could not commit local checkpoint");
        EXPECT_TRUE(fs::is_directory(checkpoint_file() / "occupied"));
    }
}

}  // namespace
}  // namespace pelorin
