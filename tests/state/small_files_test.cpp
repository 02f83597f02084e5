// settings.json and totals.json on real files: saved and read back, and every way the stored
// file can go wrong (missing, malformed, out of range, huge) meaning the defaults or zero,
// never a failure.
#include <gtest/gtest.h>

#include <fstream>

#include "scoped_env.hpp"
#include "state/installation_totals.hpp"
#include "state/worker_settings.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

bool same(const WorkerSettings& a, const WorkerSettings& b) {
    return a.profile == b.profile && a.pause_on_battery == b.pause_on_battery &&
           a.pause_while_in_use == b.pause_while_in_use && a.in_use_minutes == b.in_use_minutes;
}

TEST(Settings, SavedAndReadBack) {
    test::TempDataFolder data;
    const SettingsLoad none = load_settings();
    EXPECT_TRUE(same(none.settings, WorkerSettings{})) << "no file: the defaults";
    EXPECT_EQ(none.unusable, "");
    EXPECT_FALSE(fs::exists(data.folder())) << "reading creates nothing";

    const WorkerSettings chosen{2, true, true, 45};
    save_settings(chosen);
    EXPECT_EQ(test::read_file(data.folder() / "settings.json"),
              "{\"profile\":2,\"pause_on_battery\":true,\"pause_while_in_use\":true,\"in_use_minutes\":45}\n");
    EXPECT_FALSE(fs::exists(data.folder() / "settings.json.tmp"));
    const SettingsLoad back = load_settings();
    EXPECT_TRUE(same(back.settings, chosen));
    EXPECT_EQ(back.unusable, "");
}

TEST(Settings, AnUnusableFileMeansTheDefaults) {
    test::TempDataFolder data;
    const std::string good =
        "{\"profile\":1,\"pause_on_battery\":true,\"pause_while_in_use\":false,\"in_use_minutes\":3}\n";
    struct Case {
        std::string text;
        const char* why;
    };
    const Case cases[] = {
        {"", "it is empty"},
        {good.substr(0, 30), "it is cut short"},
        {"{\"profile\":1,\"pause_on_battery\":true,\"pause_while_in_use\":false}", "it lacks in_use_minutes"},
        {"{\"profile\":7,\"pause_on_battery\":true,\"pause_while_in_use\":false,\"in_use_minutes\":3}",
         "its profile is 7, not 0 to 2"},
        {"{\"profile\":0,\"pause_on_battery\":\"yes\",\"pause_while_in_use\":false,\"in_use_minutes\":3}",
         "its pause_on_battery is not true or false"},
        {"{\"profile\":0,\"pause_on_battery\":true,\"pause_while_in_use\":false,\"in_use_minutes\":0}",
         "its in_use_minutes is 0, not 1 to 1440"},
        {"{\"profile\":0,\"pause_on_battery\":true,\"pause_while_in_use\":false,\"in_use_minutes\":99999999999999999999}",
         "its in_use_minutes is beyond 64 bits"},
        {"[1,2]", "it is malformed at byte 1"},
    };
    for (const Case& c : cases) {
        fs::create_directories(data.folder());
        test::write_file(data.folder() / "settings.json", c.text);
        const SettingsLoad got = load_settings();
        EXPECT_TRUE(same(got.settings, WorkerSettings{})) << c.text;
        EXPECT_EQ(got.unusable, c.why) << c.text;
    }
    // Members it does not know (a later version's) are no reason to refuse it.
    test::write_file(data.folder() / "settings.json", good.substr(0, good.size() - 2) + ",\"theme\":\"dark\"}");
    EXPECT_EQ(load_settings().settings.profile, 1);
}

// A file grown huge is refused after its first bytes: it costs neither memory nor time.
TEST(SmallFiles, AHugeFileIsRefusedUnread) {
    test::TempDataFolder data;
    fs::create_directories(data.folder());
    for (const char* name : {"settings.json", "totals.json"}) {
        {
            std::ofstream huge(data.folder() / name, std::ios::binary);
            huge << "{\"profile\":1,";
        }
        fs::resize_file(data.folder() / name, std::uintmax_t{8} << 30);  // 8 GiB, sparse
    }
    const SettingsLoad settings = load_settings();
    EXPECT_TRUE(same(settings.settings, WorkerSettings{}));
    EXPECT_EQ(settings.unusable, "it is larger than 65536 bytes");
    const TotalsLoad totals = load_totals();
    EXPECT_FALSE(totals.totals);
    EXPECT_EQ(totals.unusable, "it is larger than 65536 bytes");
}

TEST(Totals, SavedAndReadBackExactlyBeyond64Bits) {
    test::TempDataFolder data;
    EXPECT_FALSE(load_totals().totals);
    EXPECT_EQ(load_totals().unusable, "");
    InstallationTotals t = fresh_totals("2026-12-10");
    EXPECT_EQ(t.units_accepted, 0u);
    EXPECT_TRUE(t.starts_verified.is_zero());
    t.units_accepted = 3;
    t.starts_verified.add_u64(UINT64_MAX).add_u64(UINT64_MAX);  // 2^65 - 2: past 64 bits
    save_totals(t);
    EXPECT_EQ(test::read_file(data.folder() / "totals.json"),
              "{\"units_accepted\":3,\"starts_verified\":\"36893488147419103230\",\"since\":\"2026-12-10\"}\n");
    const TotalsLoad back = load_totals();
    ASSERT_TRUE(back.totals);
    EXPECT_EQ(back.totals->units_accepted, 3u);
    EXPECT_EQ(back.totals->starts_verified, t.starts_verified);
    EXPECT_EQ(back.totals->since, "2026-12-10");
}

TEST(Totals, AnUnusableFileSaysWhy) {
    test::TempDataFolder data;
    fs::create_directories(data.folder());
    struct Case {
        const char* text;
        const char* why;
    };
    const Case cases[] = {
        {"{\"units_accepted\":3,\"starts_verified\":\"12\"", "it is cut short"},
        {"{\"units_accepted\":3,\"starts_verified\":\"12\"}", "it lacks since"},
        {"{\"units_accepted\":3,\"starts_verified\":\"-12\",\"since\":\"2026-12-10\"}",
         "its starts_verified is not a decimal integer"},
        {"{\"units_accepted\":\"3\",\"starts_verified\":\"12\",\"since\":\"2026-12-10\"}",
         "its units_accepted is not a number"},
        {"{\"units_accepted\":3,\"starts_verified\":\"12\",\"since\":\"yesterday\"}",
         "its since is not a day (YYYY-MM-DD)"},
    };
    for (const Case& c : cases) {
        test::write_file(data.folder() / "totals.json", c.text);
        const TotalsLoad got = load_totals();
        EXPECT_FALSE(got.totals) << c.text;
        EXPECT_EQ(got.unusable, c.why) << c.text;
    }
}

}  // namespace
}  // namespace pelorin
