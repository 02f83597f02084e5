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

const ResumeMatch kSampleMatch{"record-recursive", "ab12"};

// kSampleText with its first `from` replaced by `to`.
std::string sample_with(const std::string& from, const std::string& to) {
    std::string text = kSampleText;
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("not in the sample: " + from);
    return text.replace(at, from.size(), to);
}

// kSampleText cut just after its first `after`, as a crash or a full disk leaves a file.
std::string sample_cut_after(const std::string& after) {
    const std::string text = kSampleText;
    const auto at = text.find(after);
    if (at == std::string::npos) throw std::logic_error("not in the sample: " + after);
    return text.substr(0, at + after.size());
}

// What loading gave, in one line: "resumed at <offset> under <lease>", "none" or
// "unusable: <reason>".
std::string outcome(const CheckpointLoad& load) {
    if (load.checkpoint) return "resumed at " + std::to_string(load.checkpoint->offset) + " under " + load.checkpoint->lease_id;
    if (!load.unusable.empty()) return "unusable: " + load.unusable;
    return "none";
}

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
    const CheckpointLoad load = load_checkpoint("L-1", "4294967296", "4295032832", kSampleMatch);
    ASSERT_TRUE(load.checkpoint.has_value()) << load.unusable;
    EXPECT_EQ(load.unusable, "");
    const Checkpoint& loaded = *load.checkpoint;
    const UnitResult& r = loaded.result;
    EXPECT_EQ(loaded.offset, 65536u);
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
    EXPECT_EQ(checkpoint_text(loaded), kSampleText);
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

// Which checkpoint goes on with which unit, and which is set aside. A unit's work does not
// depend on its lease id (an expired lease comes back under a new one), but it does depend on
// the backend and its proof table: an upgrade that changes the table, or a device that falls
// back to the processor, must not mix two records, under any lease id.
TEST(Checkpoint, ResumedOnlyForTheSameUnitBackendAndProofTable) {
    const std::string unit_begin = "4294967296", unit_end = "4295032832";
    struct Case {
        const char* name;
        std::string text;  // checkpoint.json
        std::string lease_id, begin, end;
        ResumeMatch match;
        std::string expected;
    };
    const std::string beyond = "its offset 65537 lies beyond the unit's 65536 starts";
    const Case cases[] = {
        {"same lease", kSampleText, "L-1", unit_begin, unit_end, kSampleMatch, "resumed at 65536 under L-1"},
        {"new lease id, same range", kSampleText, "N", unit_begin, unit_end, kSampleMatch, "resumed at 65536 under N"},
        {"other begin", kSampleText, "L-1", "4294967297", unit_end, kSampleMatch, "none"},
        {"same lease id, other end", kSampleText, "L-1", unit_begin, "4295032833", kSampleMatch, "none"},
        {"other backend, same lease", kSampleText, "L-1", unit_begin, unit_end, {"cpu-sieve", "ab12"},
         "unusable: it was made by backend record-recursive, and this run uses cpu-sieve"},
        {"other backend, new lease", kSampleText, "N", unit_begin, unit_end, {"cpu-sieve", "ab12"},
         "unusable: it was made by backend record-recursive, and this run uses cpu-sieve"},
        {"other proof table, same lease", kSampleText, "L-1", unit_begin, unit_end, {"record-recursive", "ab13"},
         "unusable: it was made with another proof table than this run's"},
        {"other proof table, new lease", kSampleText, "N", unit_begin, unit_end, {"record-recursive", "ab13"},
         "unusable: it was made with another proof table than this run's"},
        {"offset at the unit's end", sample_with("\"offset\":65536", "\"offset\":65536"), "L-1", unit_begin, unit_end,
         kSampleMatch, "resumed at 65536 under L-1"},
        {"offset one beyond", sample_with("\"offset\":65536", "\"offset\":65537"), "L-1", unit_begin, unit_end,
         kSampleMatch, "unusable: " + beyond},
        {"offset beyond, another unit's", sample_with("\"offset\":65536", "\"offset\":65537"), "L-1", "1", "2",
         kSampleMatch, "unusable: " + beyond},
        {"an end of 2^128",
         sample_with("\"begin\":\"4294967296\",\"end\":\"4295032832\",\"offset\":65536",
                     "\"begin\":\"340282366920938463463374607431768211451\",\"end\":\"2^128\",\"offset\":5"),
         "top", "340282366920938463463374607431768211451", "2^128", kSampleMatch, "resumed at 5 under top"},
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        write_file(checkpoint_file(), c.text);
        EXPECT_EQ(outcome(load_checkpoint(c.lease_id, c.begin, c.end, c.match)), c.expected) << c.name;
        EXPECT_EQ(read_file(checkpoint_file()), c.text) << c.name << ": a checkpoint is never changed by loading";
    }
}

// The writer's members may stand in any order with blanks around them; a file from before
// `valid` and `message` existed holds neither and loads as a valid record.
TEST(Checkpoint, OtherLayoutsAndOlderFilesLoad) {
    TempDataFolder data;
    const std::string members =
        sample_with(",\"valid\":false,\"message\":\"counterexample or invalid start at 27\"}\n", "").substr(1);
    write_file(checkpoint_file(), "\n { \"message\" : \"m\" , \"valid\" :\ttrue,\r\n" + members + " }\n\n");
    CheckpointLoad load = load_checkpoint("L-1", "4294967296", "4295032832", kSampleMatch);
    ASSERT_TRUE(load.checkpoint) << load.unusable << "\n" << read_file(checkpoint_file());
    EXPECT_TRUE(load.checkpoint->result.valid);
    EXPECT_EQ(load.checkpoint->result.message, "m");
    EXPECT_EQ(load.checkpoint->result.steps, BigUint(1234567));

    write_file(checkpoint_file(), sample_with(",\"valid\":false,\"message\":\"counterexample or invalid start at 27\"", ""));
    load = load_checkpoint("L-1", "4294967296", "4295032832", kSampleMatch);
    ASSERT_TRUE(load.checkpoint) << load.unusable;
    EXPECT_TRUE(load.checkpoint->result.valid);
    EXPECT_EQ(load.checkpoint->result.message, "");
    EXPECT_EQ(load.checkpoint->result.checksum_xor, 42u);
}

// A damaged or malformed checkpoint is never resumed and never stops a run: it is unusable,
// and says why. Each case stood for a wrong record sent as valid, or for a run that stopped
// on every start.
TEST(Checkpoint, DamagedOrMalformedCheckpointsAreUnusableAndSayWhy) {
    struct Case {
        const char* name;
        std::string text;
        std::string reason;
    };
    const std::string sum = "\"checksum_sum\":18446744073709551615";
    const Case cases[] = {
        // Cut short, as a crash or a full disk leaves a file.
        {"cut after the offset", sample_cut_after("\"offset\":65536"), "it is cut short"},
        {"cut inside the offset", sample_cut_after("\"offset\":655"), "it is cut short"},
        {"cut inside checksum_sum", sample_cut_after("\"checksum_sum\":1844674407"), "it is cut short"},
        {"cut inside a text", sample_cut_after("\"backend\":\"record-rec"), "it is cut short"},
        {"cut inside a word", sample_cut_after("\"valid\":fal"), "it is cut short"},
        {"cut before the last brace", std::string(kSampleText).substr(0, std::string(kSampleText).size() - 2),
         "it is cut short"},
        {"empty", "", "it is empty"},
        {"blanks only", " \n", "it is empty"},
        // Not one object of the writer's form.
        {"garbage after it", std::string(kSampleText) + "x", "it is malformed at byte " + std::to_string(std::string(kSampleText).size() + 1)},
        {"two objects", std::string(kSampleText) + "{}", "it is malformed at byte " + std::to_string(std::string(kSampleText).size() + 1)},
        {"an array", "[1]", "it is malformed at byte 1"},
        {"an escape in a text", sample_with("start at 27", "start at \\u0001"), "it is malformed at byte "},
        {"a line break in a text", sample_with("start at 27", "start\nat 27"), "it is malformed at byte "},
        {"a tab in a text", sample_with("record-recursive", "record\trecursive"), "it is malformed at byte "},
        {"a fraction", sample_with("\"offset\":65536", "\"offset\":655.36"), "it is malformed at byte "},
        {"a sign", sample_with("\"checksum_xor\":42", "\"checksum_xor\":-42"), "it is malformed at byte "},
        {"a leading zero", sample_with("\"checksum_xor\":42", "\"checksum_xor\":042"), "it is malformed at byte "},
        {"a member twice", sample_with("\"offset\":65536", "\"offset\":65536,\"offset\":0"), "it holds offset twice"},
        // Every member the writer writes, with its type.
        {"no checksum_sum", sample_with(sum + ",", ""), "it lacks checksum_sum"},
        {"no checked", sample_with("\"checked\":\"18446744073709551616\",", ""), "it lacks checked"},
        {"no message", sample_with(",\"message\":\"counterexample or invalid start at 27\"", ""), "it lacks message"},
        {"no valid", sample_with("\"valid\":false,", ""), "it lacks valid"},
        {"a quoted offset", sample_with("\"offset\":65536", "\"offset\":\"65536\""), "its offset is not a number"},
        {"a bare counter", sample_with("\"checked\":\"18446744073709551616\"", "\"checked\":18446744073709551616"),
         "its checked is not a text"},
        {"a quoted valid", sample_with("\"valid\":false", "\"valid\":\"false\""), "its valid is not true or false"},
        // Values that do not read as what they stand for.
        {"an offset beyond 64 bits", sample_with("\"offset\":65536", "\"offset\":99999999999999999999999"),
         "its offset is beyond 64 bits"},
        {"a checksum beyond 64 bits", sample_with(sum, "\"checksum_sum\":18446744073709551616"),
         "its checksum_sum is beyond 64 bits"},
        {"a counter with a letter", sample_with("\"steps\":\"1234567\"", "\"steps\":\"12x\""),
         "its steps is not a decimal integer"},
        {"an empty counter", sample_with("\"u64\":\"4\"", "\"u64\":\"\""), "its u64 is not a decimal integer"},
        {"a time out of range", sample_with("\"elapsed\":\"0.333333333333\"", "\"elapsed\":\"1e400\""),
         "its elapsed is not a number of seconds"},
        {"a word for a time", sample_with("\"kernel\":\"0\"", "\"kernel\":\"soon\""), "its kernel is not a number of seconds"},
        {"a time with a tail", sample_with("\"kernel\":\"0\"", "\"kernel\":\"0s\""), "its kernel is not a number of seconds"},
        {"nan", sample_with("\"kernel\":\"0\"", "\"kernel\":\"nan\""), "its kernel is not a number of seconds"},
        {"inf", sample_with("\"transfer\":\"1e-07\"", "\"transfer\":\"inf\""), "its transfer is not a number of seconds"},
        {"a negative time", sample_with("\"elapsed\":\"0.333333333333\"", "\"elapsed\":\"-1\""),
         "its elapsed is not a number of seconds"},
        // Subnormal: its decimal text would not load again.
        {"a subnormal time", sample_with("\"transfer\":\"1e-07\"", "\"transfer\":\"0x1p-1074\""),
         "its transfer is not a number of seconds"},
        {"a DEL in a text", sample_with("ab12", "ab\x7f"), "its proof_hash holds a control character"},
        {"end below begin",
         sample_with("\"begin\":\"4294967296\",\"end\":\"4295032832\"", "\"begin\":\"9\",\"end\":\"0\""),
         "its range is unusable: range end is below begin"},
    };
    for (const auto& c : cases) {
        TempDataFolder data;
        write_file(checkpoint_file(), c.text);
        const CheckpointLoad load = load_checkpoint("L-1", "4294967296", "4295032832", kSampleMatch);
        EXPECT_FALSE(load.checkpoint.has_value()) << c.name;
        EXPECT_TRUE(load.unusable.starts_with(c.reason)) << c.name << ": " << load.unusable;
        // The status report says the same of it.
        EXPECT_EQ(outcome(load_stored_checkpoint()), outcome(load)) << c.name;
        EXPECT_EQ(read_file(checkpoint_file()), c.text) << c.name;
    }
}

// Kept for a person to look at; a later one replaces it.
TEST(Checkpoint, AnUnusableCheckpointIsSetAsideAsBad) {
    TempDataFolder data;
    write_file(checkpoint_file(), "{\"first\"");
    set_aside_checkpoint();
    EXPECT_FALSE(fs::exists(checkpoint_file()));
    EXPECT_EQ(read_file(data.folder() / "checkpoint.json.bad"), "{\"first\"");
    write_file(checkpoint_file(), "{\"second\"");
    set_aside_checkpoint();
    EXPECT_EQ(read_file(data.folder() / "checkpoint.json.bad"), "{\"second\"");
    set_aside_checkpoint();  // nothing left to set aside: no error
    EXPECT_EQ(outcome(load_stored_checkpoint()), "none");
}

TEST(Checkpoint, MissingFileIsAbsentAndDeleteIgnoresIt) {
    TempDataFolder data;
    EXPECT_EQ(outcome(load_checkpoint("L", "0", "1", kSampleMatch)), "none");
    delete_checkpoint();
    save_checkpoint(sample_checkpoint());
    delete_checkpoint();
    EXPECT_FALSE(fs::exists(checkpoint_file()));
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
