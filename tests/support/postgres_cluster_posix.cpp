#include "tests/support/postgres_cluster.hpp"

#include <pwd.h>
#include <unistd.h>

#include <pqxx/pqxx>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/support/program_run.hpp"
#include "tests/support/temp_folder.hpp"

namespace pelorin::test_support {
namespace {

// The server's own name for its socket folder's owner when the tests run as root.
constexpr const char* kServerUser = "postgres";
// A loaded sanitizer machine can take a while to start or stop a server.
constexpr const char* kWaitSeconds = "120";

std::string tool(const char* name) { return std::string(PELORIN_POSTGRES_BINDIR) + "/" + name; }

// Runs a PostgreSQL tool to its end, as the server's user when this process is root, with its
// output in `log`; throws with that output when it fails.
void run_tool(std::vector<std::string> args, const std::filesystem::path& log) {
    if (::geteuid() == 0) args.insert(args.begin(), {"runuser", "-u", kServerUser, "--"});
    const CommandResult r = run_program(args, log, log);
    if (r.status != 0) {
        std::string command;
        for (const std::string& a : args) command += (command.empty() ? "" : " ") + a;
        throw std::runtime_error(command + " failed:\n" + r.out);
    }
}

// The folder belongs to the server's user when this process is root.
void hand_over(const std::filesystem::path& folder) {
    if (::geteuid() != 0) return;
    const passwd* user = ::getpwnam(kServerUser);
    if (user == nullptr) throw std::runtime_error(std::string("no user ") + kServerUser + " (install postgresql)");
    if (::chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0)
        throw std::runtime_error("cannot give " + folder.string() + " to " + kServerUser + ": " + std::strerror(errno));
}

}  // namespace

PostgresCluster::PostgresCluster(Durability durability) : folder_(make_temp_folder("pelorin-postgres")), owned_(true) {
    try {
        make(durability);
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        throw;
    }
}

PostgresCluster::PostgresCluster(const std::filesystem::path& folder, bool make_it, Durability durability)
    : folder_(folder) {
    if (!make_it) return;
    if (std::filesystem::exists(data() / "postmaster.pid")) {
        try {
            stop();
        } catch (const std::exception&) {
            // A server of an earlier run that is gone already: its folder is replaced below.
        }
    }
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
    make(durability);
}

PostgresCluster::~PostgresCluster() {
    if (!owned_) return;
    try {
        stop();
    } catch (const std::exception&) {
    }
    remove();
}

void PostgresCluster::make(Durability durability) {
    hand_over(folder_);
    run_tool({tool("initdb"), "-D", data().string(), "--auth=trust", "-U", "postgres", "-E", "UTF8", "--locale=C",
              "--no-sync"},
             folder_ / "initdb.log");
    std::ofstream conf(data() / "postgresql.conf", std::ios::app);
    conf << "\nlisten_addresses = ''\nunix_socket_directories = '" << folder_.string() << "'\nmax_connections = 200\n";
    if (durability == Durability::throwaway) conf << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
    conf.close();
    if (!conf) throw std::runtime_error("cannot write " + (data() / "postgresql.conf").string());
    start();
}

void PostgresCluster::start() {
    run_tool({tool("pg_ctl"), "-D", data().string(), "-l", (folder_ / "server.log").string(), "-w", "-t", kWaitSeconds,
              "start"},
             folder_ / "pg_ctl.log");
}

void PostgresCluster::stop() {
    run_tool({tool("pg_ctl"), "-D", data().string(), "-m", "fast", "-w", "-t", kWaitSeconds, "stop"},
             folder_ / "pg_ctl.log");
}

void PostgresCluster::remove() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

std::string PostgresCluster::url(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + folder_.string() + "&user=postgres";
}

std::string PostgresCluster::create_database(const std::string& stem) {
    static std::atomic<int> serial{0};
    const std::string name = stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    execute("postgres", "CREATE DATABASE " + name);
    return name;
}

void PostgresCluster::drop_database(const std::string& name) {
    execute("postgres", "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
}

void PostgresCluster::execute(const std::string& database, const std::string& sql) const {
    pqxx::connection c(url(database));
    pqxx::nontransaction tx(c);
    tx.exec(sql);
}

PostgresCluster& shared_postgres() {
    static const std::unique_ptr<PostgresCluster> cluster = [] {
        if (const char* folder = std::getenv("PELORIN_TEST_POSTGRES"); folder != nullptr && *folder != '\0')
            return std::make_unique<PostgresCluster>(folder, false);
        return std::make_unique<PostgresCluster>();
    }();
    return *cluster;
}

}  // namespace pelorin::test_support
