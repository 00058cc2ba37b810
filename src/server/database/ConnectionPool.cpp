#include "server/database/ConnectionPool.h"

ConnectionPool::ConnectionPool(std::vector<std::unique_ptr<SqlConnection>> connections, FailureLog log)
    : m_all(std::move(connections)), m_log(std::move(log)) {
    for (const auto& connection : m_all)
        m_free.push_back(connection.get());
}

SqlConnection* ConnectionPool::acquire() {
    std::unique_lock lock(m_mutex);
    m_available.wait(lock, [this] { return !m_free.empty(); });
    SqlConnection* connection = m_free.back();
    m_free.pop_back();
    return connection;
}

void ConnectionPool::release(SqlConnection* connection) {
    {
        std::lock_guard lock(m_mutex);
        m_free.push_back(connection);
    }
    m_available.notify_one();
}

ConnectionPool::Lease::Lease(ConnectionPool& pool) : m_pool(pool), m_connection(pool.acquire()) {}

ConnectionPool::Lease::~Lease() {
    m_pool.release(m_connection);
}

SqlOutcome ConnectionPool::Lease::run(const SqlStatement& statement, const std::vector<SqlValue>& values,
                                      const SqlRowSink& onRow) {
    SqlConnection& c = *m_connection;
    for (int attempt = 0;; ++attempt) {
        SqlOutcome outcome;
        if ((attempt > 0 || !c.isOpen()) && !c.reopen(&outcome.error))
            outcome.status = SqlOutcome::Status::Failed;
        else
            outcome = c.run(statement, std::span(values), onRow);
        if (outcome.status == SqlOutcome::Status::Lost && attempt == 0)
            continue;
        if (outcome.status == SqlOutcome::Status::Lost)
            outcome.status = SqlOutcome::Status::Failed;
        if (outcome.status == SqlOutcome::Status::Failed) {
            m_pool.m_failures.fetch_add(1, std::memory_order_relaxed);
            if (m_pool.m_log)
                m_pool.m_log(statement, outcome.error);
        }
        return outcome;
    }
}
