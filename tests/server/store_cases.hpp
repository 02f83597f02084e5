#pragma once
// The table of storage cases, written once for every engine: a value-parameterised suite
// over a factory of fresh test databases. An engine joins by instantiating StoreCases with
// its own factory (sqlite_store_test.cpp does it for SQLite).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "server/store/store.hpp"

namespace pelorin::server::test {

// One fresh, empty database of an engine, removed when the object goes.
class TestDatabase {
public:
    virtual ~TestDatabase() = default;
    // The store on this database, migrated to schema_version (the newest when negative).
    virtual std::unique_ptr<Store> open(int schema_version = -1) = 0;
    // Writes a schema version into the database as a newer program would.
    virtual void stamp_schema_version(int version) = 0;
    virtual int newest_schema_version() const = 0;
};

struct StoreEngine {
    std::string name;
    std::function<std::unique_ptr<TestDatabase>()> make;
};

// Failures name the engine.
inline void PrintTo(const StoreEngine& engine, std::ostream* out) { *out << engine.name; }

inline std::string engine_name(const ::testing::TestParamInfo<StoreEngine>& info) { return info.param.name; }

class StoreCases : public ::testing::TestWithParam<StoreEngine> {
protected:
    void SetUp() override;

    // A registered worker (through a challenge) and its id, on the network `network` (none
    // when empty) and the machine `hardware` (one of its own when empty).
    std::string add_worker(const std::string& client_id = "", const std::string& network = "",
                           const std::string& hardware = "");
    // Each of `workers` (two or more) gets a result validated by another's copy, on a campaign
    // of their own added now: established workers, whose refusals count toward setting a
    // unit aside, with one confirmed result each.
    void establish(const std::vector<std::string>& workers);
    // A campaign [begin, end) in units of unit_size; the texts as the command line takes them.
    void add_campaign(const std::string& name, const std::string& begin, const std::string& end,
                      std::uint64_t unit_size);
    ClaimOutcome claim(const std::string& worker, std::int64_t timeout_ms = 60'000, std::int64_t refused_hold_ms = 0,
                       std::int64_t max_age_ms = 0);
    // A result whose compared members are `checked` and `checksum` (and a fixed table).
    Submission result(const std::string& worker, const std::string& lease, std::uint64_t checksum,
                      bool needs_confirmation = false, bool passed = true);

    std::map<std::string, std::string> token_hashes_;  // worker id -> its token's hash
    std::unique_ptr<TestDatabase> database_;
    std::unique_ptr<Store> store_;
};

}  // namespace pelorin::server::test
