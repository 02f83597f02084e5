#pragma once
// The connections of one server instance to its PostgreSQL database: a few kept open, shared
// by the request threads, each operation one transaction on one of them. A connection found
// dead when its transaction begins is replaced at once (the database restarted meanwhile); one
// that breaks during an operation is dropped and that operation fails with
// "the connection to the database was lost: ..." (the API answers 503 with Retry-After), and
// the next operation opens a new one. Deadlocks, serialization failures and unique-key races
// run the whole transaction again, so an operation's body may run more than once.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace pqxx {
class connection_base;
class transaction_base;
}  // namespace pqxx

namespace pelorin::server {

class PostgresPool {
public:
    // Opens the first connection. Throws std::runtime_error "cannot connect to the database
    // <url, without its password>: <reason>" when the database does not answer.
    explicit PostgresPool(const std::string& url);
    ~PostgresPool();
    PostgresPool(const PostgresPool&) = delete;
    PostgresPool& operator=(const PostgresPool&) = delete;

    // write: READ COMMITTED, the default for short read-modify-write transactions whose rows
    // are locked explicitly. read: one REPEATABLE READ snapshot, read only, for reports.
    enum class Kind { write, read };

    // Runs fn(tx) in a transaction of `kind` and commits it; returns what fn returns.
    template <typename Fn>
    auto run(Kind kind, Fn&& fn) -> std::invoke_result_t<Fn&, pqxx::transaction_base&> {
        using Result = std::invoke_result_t<Fn&, pqxx::transaction_base&>;
        if constexpr (std::is_void_v<Result>) {
            transact(kind, fn);
        } else {
            std::optional<Result> out;
            transact(kind, [&](pqxx::transaction_base& tx) { out.emplace(fn(tx)); });
            return std::move(*out);
        }
    }

    // The URL as messages show it: the password left out.
    const std::string& shown_url() const { return shown_url_; }

private:
    // libpqxx's connection_base has no virtual destructor: a connection is deleted as the
    // pqxx::connection it was made as, or it would never be closed.
    struct Closer {
        void operator()(pqxx::connection_base* connection) const;
    };
    using Connection = std::unique_ptr<pqxx::connection_base, Closer>;

    void transact(Kind kind, const std::function<void(pqxx::transaction_base&)>& body);
    Connection take();
    void give_back(Connection connection);
    // A connection given up on: it is closed and no longer counted.
    void forget();
    Connection connect();

    std::string conninfo_;
    std::string shown_url_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<Connection> idle_;
    std::size_t open_ = 0;  // idle and in use
};

}  // namespace pelorin::server
