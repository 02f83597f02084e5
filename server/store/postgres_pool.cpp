#include "server/store/postgres_pool.hpp"

#include <pqxx/pqxx>

#include <stdexcept>

#include "server/store/database_url.hpp"
#include "server/store/store_limits.hpp"

namespace pelorin::server {
namespace {

// libpq's texts end with line feeds and indent their second line.
std::string tidy(std::string text) {
    for (auto at = text.find("\n\t"); at != std::string::npos; at = text.find("\n\t")) text.replace(at, 2, " ");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

// The URL with what every connection of the server needs, unless the operator set it: a
// bounded connect time, and statement and lock time-outs (as options, so a connection that
// libpqxx opens again by itself has them too).
std::string conninfo_of(const std::string& url) {
    std::string out = url;
    const auto add = [&out](const std::string& parameter) {
        out += out.find('?') == std::string::npos ? '?' : '&';
        out += parameter;
    };
    if (url.find("connect_timeout=") == std::string::npos)
        add("connect_timeout=" + std::to_string(kPostgresConnectTimeoutSeconds));
    if (url.find("options=") == std::string::npos) {
        const auto ms = [](std::chrono::milliseconds d) { return std::to_string(d.count()); };
        // "-c statement_timeout=N -c lock_timeout=N", percent-encoded.
        add("options=-c%20statement_timeout%3D" + ms(kPostgresStatementTimeout) + "%20-c%20lock_timeout%3D" +
            ms(kDatabaseBusyTimeout));
    }
    return out;
}

std::unique_ptr<pqxx::transaction_base> begin(PostgresPool::Kind kind, pqxx::connection_base& c) {
    if (kind == PostgresPool::Kind::read)
        return std::make_unique<pqxx::transaction<pqxx::repeatable_read, pqxx::read_only>>(c);
    return std::make_unique<pqxx::work>(c);
}

}  // namespace

PostgresPool::PostgresPool(const std::string& url) : conninfo_(conninfo_of(url)), shown_url_(url_without_password(url)) {
    give_back(connect());
    std::lock_guard lock(mutex_);
    ++open_;
}

PostgresPool::~PostgresPool() = default;

void PostgresPool::Closer::operator()(pqxx::connection_base* connection) const {
    delete static_cast<pqxx::connection*>(connection);
}

PostgresPool::Connection PostgresPool::connect() {
    try {
        return Connection(new pqxx::connection(conninfo_));
    } catch (const pqxx::broken_connection& e) {
        throw std::runtime_error("cannot connect to the database " + shown_url_ + ": " + tidy(e.what()));
    }
}

PostgresPool::Connection PostgresPool::take() {
    {
        std::unique_lock lock(mutex_);
        const bool free = freed_.wait_for(lock, kDatabaseBusyTimeout,
                                          [this] { return !idle_.empty() || open_ < kPostgresPoolSize; });
        if (!free)
            throw std::runtime_error("no connection to the database came free within " +
                                     std::to_string(kDatabaseBusyTimeout.count()) + " ms");
        if (!idle_.empty()) {
            Connection c = std::move(idle_.back());
            idle_.pop_back();
            return c;
        }
        ++open_;  // counted while it opens, so the pool never opens more than its size
    }
    try {
        return connect();
    } catch (...) {
        forget();
        throw;
    }
}

void PostgresPool::give_back(Connection connection) {
    {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(connection));
    }
    freed_.notify_one();
}

void PostgresPool::forget() {
    {
        std::lock_guard lock(mutex_);
        --open_;
    }
    freed_.notify_one();
}

void PostgresPool::transact(Kind kind, const std::function<void(pqxx::transaction_base&)>& body) {
    // A connection that died while idle (the database restarted) fails as its transaction
    // begins, before anything was sent: another one is tried, up to the whole pool and a new one.
    int dead_at_begin = 0;
    int attempts = 0;
    for (;;) {
        Connection c = take();
        std::unique_ptr<pqxx::transaction_base> tx;
        try {
            tx = begin(kind, *c);
        } catch (const pqxx::broken_connection& e) {
            c.reset();
            forget();
            if (++dead_at_begin <= static_cast<int>(kPostgresPoolSize)) continue;
            throw std::runtime_error("the connection to the database was lost: " + tidy(e.what()));
        }
        try {
            body(*tx);
            tx->commit();
            tx.reset();
            give_back(std::move(c));
            return;
        } catch (const pqxx::broken_connection& e) {
            tx.reset();
            c.reset();
            forget();
            throw std::runtime_error("the connection to the database was lost: " + tidy(e.what()));
        } catch (const pqxx::in_doubt_error& e) {
            // The commit was sent and no answer came: the change may or may not stand. The
            // caller's retry is safe: a repeated complete gets the reply of the first.
            tx.reset();
            c.reset();
            forget();
            throw std::runtime_error("the connection to the database was lost during a commit: " + tidy(e.what()));
        } catch (const pqxx::transaction_rollback& e) {
            // Deadlock or serialization failure: the database rolled back; run it again.
            tx.reset();
            give_back(std::move(c));
            if (++attempts < kTransactionAttempts) continue;
            throw std::runtime_error("the database kept refusing a transaction: " + tidy(e.what()));
        } catch (const pqxx::unique_violation& e) {
            // Two instances inserted the same key at once; run again, and the second sees the first.
            tx.reset();
            give_back(std::move(c));
            if (++attempts < kTransactionAttempts) continue;
            throw std::runtime_error("database statement failed: " + tidy(e.what()));
        } catch (const pqxx::sql_error& e) {
            tx.reset();
            give_back(std::move(c));
            throw std::runtime_error("database statement failed: " + tidy(e.what()));
        } catch (...) {
            // The body's own errors (std::invalid_argument for bad input) pass unchanged; the
            // transaction is rolled back as tx goes.
            tx.reset();
            if (c->is_open()) give_back(std::move(c));
            else {
                c.reset();
                forget();
            }
            throw;
        }
    }
}

}  // namespace pelorin::server
