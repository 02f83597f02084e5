#pragma once
// The public page's reads and the operator's watch list, written once for every engine: plain
// SQL both engines run as written ("?" stands for each value, in order), over rows an engine
// hands back through SqlReader inside one read transaction.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// A row of a result, column by column from 0.
class SqlRow {
public:
    virtual ~SqlRow() = default;
    virtual std::int64_t int64(int column) const = 0;  // 0 for NULL
    virtual std::string text(int column) const = 0;    // empty for NULL
    virtual bool is_null(int column) const = 0;
};

// One engine's read transaction, as the shared reads need it.
class SqlReader {
public:
    using Value = std::variant<std::int64_t, std::string>;
    virtual ~SqlReader() = default;
    // The database's clock in milliseconds since 1970.
    virtual std::int64_t now_ms() = 0;
    // Runs `sql` with `values` in place of its "?", in order, and hands each row to `row`.
    virtual void each(const std::string& sql, const std::vector<Value>& values,
                      const std::function<void(const SqlRow&)>& row) = 0;
    // Workers' figures as status() gives them, of the rows `where` (a condition on w without
    // values) chooses, in `order` (on w), at most `limit`.
    virtual std::vector<WorkerFigures> workers(const std::string& where, const std::string& order, int limit) = 0;
};

// Store::campaign_activity and Store::operator_figures on any engine.
std::optional<CampaignActivity> read_campaign_activity(SqlReader& reader, const ActivityQuery& query);
OperatorFigures read_operator_figures(SqlReader& reader, const OperatorQuery& query);

}  // namespace pelorin::server
