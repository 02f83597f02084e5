#pragma once
// A thin owner of one SQLite connection: statements with bound values, and transactions
// that take the write lock at their start (BEGIN IMMEDIATE), so that two writers never
// both read and then fight over the upgrade. Errors are std::runtime_error with SQLite's
// text; a database that stays locked past the busy time-out says so.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace pelorin::server {

class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    SqliteStatement& operator=(SqliteStatement&&) = delete;

    // Parameters are numbered from 1, in the order given.
    template <typename... Values>
    SqliteStatement& bind(const Values&... values) {
        int index = 0;
        (bind_one(++index, values), ...);
        return *this;
    }
    // One value at its place (from 1), for values known only at run time.
    template <typename Value>
    SqliteStatement& bind_at(int index, const Value& value) {
        bind_one(index, value);
        return *this;
    }
    // The next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run() {
        while (step()) {
        }
    }

    std::int64_t int64(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    bool is_null(int column) const;

private:
    void bind_one(int index, std::int64_t value);
    void bind_one(int index, int value) { bind_one(index, static_cast<std::int64_t>(value)); }
    void bind_one(int index, unsigned value) { bind_one(index, static_cast<std::int64_t>(value)); }
    void bind_one(int index, bool value) { bind_one(index, static_cast<std::int64_t>(value ? 1 : 0)); }
    void bind_one(int index, double value);
    void bind_one(int index, std::string_view value);
    void bind_one(int index, const std::string& value) { bind_one(index, std::string_view(value)); }
    void bind_one(int index, const char* value) { bind_one(index, std::string_view(value)); }
    void bind_one(int index, std::nullopt_t);
    void bind_one(int index, const std::optional<std::int64_t>& value);

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
public:
    // Opens (and creates) the file: write-ahead log, foreign keys, a busy time-out.
    explicit SqliteDb(const std::filesystem::path& path);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    SqliteStatement prepare(std::string_view sql) { return SqliteStatement(db_, sql); }
    // Runs one or more statements without parameters.
    void exec(const std::string& sql);
    // The database's clock in milliseconds since 1970 (UTC).
    std::int64_t now_ms();
    std::int64_t last_insert_id() const;
    int changes() const;
    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// One transaction: BEGIN IMMEDIATE (or a plain BEGIN for readers) at construction; commit()
// ends it; destruction without commit rolls back.
class SqliteTransaction {
public:
    enum class Kind { write, read };
    explicit SqliteTransaction(SqliteDb& db, Kind kind = Kind::write);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void commit();

private:
    SqliteDb& db_;
    bool open_ = true;
};

}  // namespace pelorin::server
