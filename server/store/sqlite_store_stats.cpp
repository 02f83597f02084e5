// The SQLite engine's side of the page's reads (stats_reads.cpp): its statements and rows,
// inside one read transaction.
#include "server/store/sqlite_store.hpp"
#include "server/store/sqlite_store_rows.hpp"
#include "server/store/stats_reads.hpp"

namespace pelorin::server {
namespace {

class SqliteRow final : public SqlRow {
public:
    explicit SqliteRow(SqliteStatement& s) : s_(s) {}
    std::int64_t int64(int column) const override { return s_.int64(column); }
    std::string text(int column) const override { return s_.text(column); }
    bool is_null(int column) const override { return s_.is_null(column); }

private:
    SqliteStatement& s_;
};

class SqliteReader final : public SqlReader {
public:
    explicit SqliteReader(SqliteDb& db) : db_(db) {}
    std::int64_t now_ms() override { return db_.now_ms(); }
    void each(const std::string& sql, const std::vector<Value>& values,
              const std::function<void(const SqlRow&)>& row) override {
        SqliteStatement s = db_.prepare(sql);
        int index = 0;
        for (const Value& v : values) {
            ++index;
            std::visit([&](const auto& value) { s.bind_at(index, value); }, v);
        }
        const SqliteRow r(s);
        while (s.step()) row(r);
    }
    std::vector<WorkerFigures> workers(const std::string& where, const std::string& order, int limit) override {
        std::vector<WorkerFigures> out;
        SqliteStatement w = db_.prepare(sqlite_rows::worker_columns() + "WHERE " + where + " ORDER BY " + order + " LIMIT ?");
        w.bind(limit);
        while (w.step()) out.push_back(sqlite_rows::worker_figures(w));
        return out;
    }

private:
    SqliteDb& db_;
};

}  // namespace

std::optional<CampaignActivity> SqliteStore::campaign_activity(const ActivityQuery& query) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    SqliteReader reader(*db);
    auto out = read_campaign_activity(reader, query);
    tx.commit();
    return out;
}

OperatorFigures SqliteStore::operator_figures(const OperatorQuery& query) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    SqliteReader reader(*db);
    OperatorFigures out = read_operator_figures(reader, query);
    tx.commit();
    return out;
}

}  // namespace pelorin::server
