#pragma once
// A throwaway PostgreSQL server for the tests and the load benchmark: Debian's initdb and
// pg_ctl in a folder of its own, reached on a Unix socket in that folder only (no TCP port,
// so clusters of builds and tests running side by side never meet). PostgreSQL refuses to run
// as root: a root process runs both as the `postgres` user (runuser) and gives it the folder.
//
// Making a cluster costs seconds, so CTest starts one per test run (the fixture program
// pelorin-test-postgres) and names its folder in PELORIN_TEST_POSTGRES; shared_postgres()
// attaches to it, or starts one for the process when the variable is unset.
#include <filesystem>
#include <memory>
#include <string>

namespace pelorin::test_support {

class PostgresCluster {
public:
    enum class Durability {
        // fsync and synchronous commits off: tests are about behaviour, and nothing is kept.
        throwaway,
        // PostgreSQL's defaults, for measurements that should pay what a real server pays.
        durable,
    };

    // Makes a cluster in a new temporary folder and starts it; stopped and removed on
    // destruction. Throws std::runtime_error with the tools' output when either fails.
    explicit PostgresCluster(Durability durability = Durability::throwaway);
    // A cluster in `folder`: started there when `make` (any earlier cluster in it is stopped
    // and replaced), otherwise attached to the one running there. Kept on destruction unless
    // it was made here.
    PostgresCluster(const std::filesystem::path& folder, bool make, Durability durability = Durability::throwaway);
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // pg_ctl stop with the fast shutdown (sessions are cut, transactions rolled back).
    void stop();
    void start();
    // Removes the folder after a stop.
    void remove();

    // The libpq URI of a database on this cluster.
    std::string url(const std::string& database = "postgres") const;
    // A new empty database with a name unique to this process; dropped by drop_database.
    std::string create_database(const std::string& stem);
    void drop_database(const std::string& name);
    // Runs SQL on a database as the cluster's superuser.
    void execute(const std::string& database, const std::string& sql) const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    void make(Durability durability);
    std::filesystem::path data() const { return folder_ / "data"; }

    std::filesystem::path folder_;
    bool owned_ = false;
};

// The cluster of this test run: the one named by PELORIN_TEST_POSTGRES, else one made for this
// process on first use and removed when it ends.
PostgresCluster& shared_postgres();

}  // namespace pelorin::test_support
