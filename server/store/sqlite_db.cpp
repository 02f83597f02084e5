#include "server/store/sqlite_db.hpp"

#include <sqlite3.h>

#include <stdexcept>

#include "server/store/store_limits.hpp"
#include "sha256/sha256.hpp"

namespace pelorin::server {
namespace {

[[noreturn]] void fail(sqlite3* db, int code, const std::string& what) {
    std::string text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED) text = "the database stayed locked (" + text + ")";
    throw std::runtime_error(what + ": " + text);
}

// pelorin_sha256_hex(text): the migration that hashes stored client ids runs in SQL, as
// PostgreSQL's does with its own sha256().
void sha256_hex_function(sqlite3_context* context, int, sqlite3_value** argv) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const std::string digest = sha256_hex(std::string_view(text == nullptr ? "" : text,
                                                           static_cast<std::size_t>(sqlite3_value_bytes(argv[0]))));
    sqlite3_result_text(context, digest.data(), static_cast<int>(digest.size()), SQLITE_TRANSIENT);
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) fail(db_, rc, "database statement failed");
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
    other.stmt_ = nullptr;
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(db_, rc, "database statement failed");
}

std::int64_t SqliteStatement::int64(int column) const { return sqlite3_column_int64(stmt_, column); }
double SqliteStatement::real(int column) const { return sqlite3_column_double(stmt_, column); }
bool SqliteStatement::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string SqliteStatement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

void SqliteStatement::bind_one(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK) fail(db_, rc, "database bind failed");
}

void SqliteStatement::bind_one(int index, double value) {
    if (const int rc = sqlite3_bind_double(stmt_, index, value); rc != SQLITE_OK) fail(db_, rc, "database bind failed");
}

void SqliteStatement::bind_one(int index, std::string_view value) {
    const int rc = sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) fail(db_, rc, "database bind failed");
}

void SqliteStatement::bind_one(int index, std::nullopt_t) {
    if (const int rc = sqlite3_bind_null(stmt_, index); rc != SQLITE_OK) fail(db_, rc, "database bind failed");
}

void SqliteStatement::bind_one(int index, const std::optional<std::int64_t>& value) {
    if (value) bind_one(index, *value);
    else bind_one(index, std::nullopt);
}

SqliteDb::SqliteDb(const std::filesystem::path& path) {
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const std::string text = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open the database " + path.string() + ": " + text);
    }
    try {
        sqlite3_busy_timeout(db_, static_cast<int>(kDatabaseBusyTimeout.count()));
        sqlite3_extended_result_codes(db_, 1);
        exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON;");
        const int fn = sqlite3_create_function_v2(db_, "pelorin_sha256_hex", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                  nullptr, sha256_hex_function, nullptr, nullptr, nullptr);
        if (fn != SQLITE_OK) fail(db_, fn, "cannot prepare the database " + path.string());
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteDb::~SqliteDb() { sqlite3_close(db_); }

void SqliteDb::exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        if ((rc & 0xff) == SQLITE_BUSY) throw std::runtime_error("database statement failed: the database stayed locked (" + text + ")");
        throw std::runtime_error("database statement failed: " + text);
    }
}

std::int64_t SqliteDb::now_ms() {
    SqliteStatement s = prepare("SELECT CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER)");
    s.step();
    return s.int64(0);
}

std::int64_t SqliteDb::last_insert_id() const { return sqlite3_last_insert_rowid(db_); }
int SqliteDb::changes() const { return sqlite3_changes(db_); }

SqliteTransaction::SqliteTransaction(SqliteDb& db, Kind kind) : db_(db) {
    db_.exec(kind == Kind::write ? "BEGIN IMMEDIATE" : "BEGIN");
}

SqliteTransaction::~SqliteTransaction() {
    if (open_) {
        try {
            db_.exec("ROLLBACK");
        } catch (...) {
            // The connection rolled back on its own (a failed COMMIT); nothing is left open.
        }
    }
}

void SqliteTransaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace pelorin::server
