#pragma once

#include "server/database/SqlConnection.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// A fixed set of connections lent to one caller at a time: a call waits while all are out. A
// connection the server dropped (a restart, an administrator's terminate) is opened again when a
// statement finds it so, and that statement is sent once more.
class ConnectionPool {
public:
    // Told of every statement that finally failed (not of duplicates), with the engine's message.
    using FailureLog = std::function<void(const SqlStatement&, const QString& error)>;

    explicit ConnectionPool(std::vector<std::unique_ptr<SqlConnection>> connections, FailureLog log = {});
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // One borrowed connection, given back when the lease ends.
    class Lease {
    public:
        explicit Lease(ConnectionPool& pool);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        SqlOutcome run(const SqlStatement& statement, const std::vector<SqlValue>& values = {},
                       const SqlRowSink& onRow = {});

    private:
        ConnectionPool& m_pool;
        SqlConnection* m_connection;
    };

    // Statements that finally failed since the start.
    uint64_t failures() const { return m_failures.load(std::memory_order_relaxed); }

    // One statement on a connection borrowed for it alone.
    SqlOutcome run(const SqlStatement& statement, const std::vector<SqlValue>& values = {},
                   const SqlRowSink& onRow = {}) {
        return Lease(*this).run(statement, values, onRow);
    }

private:
    SqlConnection* acquire();
    void release(SqlConnection* connection);

    const std::vector<std::unique_ptr<SqlConnection>> m_all;
    const FailureLog m_log;
    std::atomic<uint64_t> m_failures{0};
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<SqlConnection*> m_free;
};
