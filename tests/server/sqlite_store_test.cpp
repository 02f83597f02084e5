// The storage cases on SQLite, and what only SQLite has: the file, its backup, its
// write-ahead log.
#include <gtest/gtest.h>

#include <thread>

#include "scoped_env.hpp"
#include "server/store/sqlite_db.hpp"
#include "server/store/sqlite_migrations.hpp"
#include "server/store/sqlite_store.hpp"
#include "tests/server/store_cases.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::server::test {
namespace {

class SqliteTestDatabase final : public TestDatabase {
public:
    std::unique_ptr<Store> open(int schema_version) override {
        return std::make_unique<SqliteStore>(file(), schema_version);
    }
    void stamp_schema_version(int version) override {
        SqliteDb db(file());
        db.exec("PRAGMA user_version = " + std::to_string(version));
    }
    int newest_schema_version() const override { return static_cast<int>(sqlite_migrations().size()); }
    std::filesystem::path file() const { return dir_.path() / "coordinator.db"; }

private:
    pelorin::test::TempDir dir_;
};

INSTANTIATE_TEST_SUITE_P(Sqlite, StoreCases,
                         ::testing::Values(StoreEngine{"sqlite", [] { return std::make_unique<SqliteTestDatabase>(); }}),
                         engine_name);

TEST(SqliteStore, BackupIsAConsistentCopyWhileWritersRun) {
    SqliteTestDatabase db;
    auto store = db.open(-1);
    store->add_campaign(CampaignDefinition{"c", UnitRange{parse_u128("0"), parse_u128("100000"), false}, 10});
    store->add_challenge(Challenge{"x", "n", 1}, 60'000, 10);
    const auto worker = store->register_worker(Registration{"x", "client", "", "", "", "", "h"});
    ASSERT_TRUE(worker);
    // A writer claims and completes units while the copy is made.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop) {
            const ClaimOutcome l = store->claim_unit(ClaimRequest{*worker, 1, "p", 60'000});
            if (l.kind != ClaimOutcome::Kind::granted) break;
            Submission s;
            s.worker_id = *worker;
            s.lease_id = l.lease_id;
            s.body = s.record = s.comparable = "{}";
            s.passed = true;
            store->submit_result(s);
        }
    });
    const std::filesystem::path copy = db.file().parent_path() / "copy.db";
    store->backup_to(copy);
    stop = true;
    writer.join();
    EXPECT_THROW(store->backup_to(copy), std::invalid_argument) << "an existing file is never overwritten";

    SqliteStore restored(copy);
    const StoreSnapshot snap = restored.snapshot();
    ASSERT_EQ(snap.campaigns.size(), 1u);
    // Consistent: every unit in the copy has its lease and a result in the copy.
    for (const UnitView& u : snap.campaigns[0].units) {
        if (u.state == UnitState::validated) {
            EXPECT_EQ(u.results.size(), 1u) << u.index;
        }
    }
    std::string reason;
    EXPECT_TRUE(restored.healthy(reason)) << reason;
}

TEST(SqliteStore, TheDatabaseRunsInWriteAheadLogMode) {
    SqliteTestDatabase db;
    auto store = db.open(-1);
    SqliteDb raw(db.file());
    SqliteStatement s = raw.prepare("PRAGMA journal_mode");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.text(0), "wal");
}

}  // namespace
}  // namespace pelorin::server::test
