#pragma once

#include "server/SharedState.h"
#include "server/database/SqlDatabase.h"

#include <atomic>

// The records in a PostgreSQL database through libpq, which several instances of the service
// may share: every write is one statement whose outcome the database's constraints decide
// (unique keys, INSERT … ON CONFLICT), so no instance needs to know of the others.
class PostgresDatabase final : public SqlDatabase, public SharedState {
public:
    static std::unique_ptr<Database> open(const QString& url, QString* error, int connections);

    SharedState* sharedState() override { return this; }
    std::optional<int> takeRate(const QString& key, int limit, std::chrono::milliseconds window) override;
    std::optional<QString> valueOrPut(const QString& name, const QString& proposed) override;

private:
    explicit PostgresDatabase(std::vector<std::unique_ptr<SqlConnection>> connections);

    std::atomic<unsigned> m_rateCalls{0};
};
