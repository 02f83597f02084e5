// The PostgreSQL engine's side of the page's reads (stats_reads.cpp): "?" numbered as $1, $2,
// ..., values sent as text for the server to type by their place, rows from one
// REPEATABLE READ snapshot.
#include "server/store/postgres_store.hpp"
#include "server/store/postgres_store_rows.hpp"
#include "server/store/stats_reads.hpp"

namespace pelorin::server {
namespace {

using namespace postgres_rows;

class PostgresRow final : public SqlRow {
public:
    explicit PostgresRow(const pqxx::row& r) : r_(r) {}
    std::int64_t int64(int column) const override { return postgres_rows::int64(r_[column]); }
    std::string text(int column) const override { return postgres_rows::text(r_[column]); }
    bool is_null(int column) const override { return r_[column].is_null(); }

private:
    const pqxx::row& r_;
};

// The shared reads' "?" as PostgreSQL's numbered parameters (none of them holds a "?" in a literal).
std::string numbered(const std::string& sql) {
    std::string out;
    int n = 0;
    for (char ch : sql) {
        if (ch != '?') {
            out += ch;
            continue;
        }
        out += '$';
        out += std::to_string(++n);
    }
    return out;
}

class PostgresReader final : public SqlReader {
public:
    explicit PostgresReader(pqxx::transaction_base& tx) : tx_(tx) {}
    std::int64_t now_ms() override { return postgres_rows::now_ms(tx_); }
    void each(const std::string& sql, const std::vector<Value>& values,
              const std::function<void(const SqlRow&)>& row) override {
        std::vector<std::string> texts;
        for (const Value& v : values)
            texts.push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v)
                                                                    : std::to_string(std::get<std::int64_t>(v)));
        for (const pqxx::row& r : tx_.exec_params(numbered(sql), pqxx::prepare::make_dynamic_params(texts)))
            row(PostgresRow(r));
    }
    std::vector<WorkerFigures> workers(const std::string& where, const std::string& order, int limit) override {
        std::vector<WorkerFigures> out;
        for (const pqxx::row& w :
             tx_.exec_params(std::string(kWorkerColumns) + "WHERE " + where + " ORDER BY " + order + " LIMIT $1", limit))
            out.push_back(worker_figures(w));
        return out;
    }

private:
    pqxx::transaction_base& tx_;
};

}  // namespace

std::optional<CampaignActivity> PostgresStore::campaign_activity(const ActivityQuery& query) {
    return pool_.run(PostgresPool::Kind::read, [&](pqxx::transaction_base& tx) {
        PostgresReader reader(tx);
        return read_campaign_activity(reader, query);
    });
}

OperatorFigures PostgresStore::operator_figures(const OperatorQuery& query) {
    return pool_.run(PostgresPool::Kind::read, [&](pqxx::transaction_base& tx) {
        PostgresReader reader(tx);
        return read_operator_figures(reader, query);
    });
}

}  // namespace pelorin::server
