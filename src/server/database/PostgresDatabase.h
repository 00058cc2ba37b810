#pragma once

#include "server/Database.h"
#include "server/SharedState.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

// The records in a PostgreSQL database through libpq, which several instances of the service
// may share: every write is one statement whose outcome the database's constraints decide
// (unique keys, INSERT … ON CONFLICT), so no instance needs to know of the others. Each call
// borrows one connection of a pool; a connection the server dropped (a restart) is opened again
// on its next use.
class PostgresDatabase final : public Database, public SharedState {
public:
    static std::unique_ptr<Database> open(const QString& url, QString* error, int connections);
    ~PostgresDatabase() override;

    std::optional<bool> upsertUser(const StoredUser& user) override;
    UserSave saveUser(const StoredUser& user, const QString& presentedHash,
                      const QString& newSecretHash) override;
    std::optional<StoredSecret> secretOf(const QString& userid) override;
    std::optional<bool> resetSecret(const QString& userid) override;
    std::optional<StoredUser> user(const QString& userid) override;
    Insert insertApp(const StoredApp& app) override;
    std::optional<QList<StoredApp>> appsOf(const QString& userid) override;
    std::optional<qint64> appCount(const QString& userid) override;
    std::optional<StoredApp> app(const QString& appid) override;
    Insert insertInstall(const StoredInstall& install) override;
    std::optional<QList<StoredInstall>> installsOf(const QString& appid, bool withRepeats = false) override;
    bool insertCrash(const StoredCrash& crash) override;
    std::optional<int> crashCount() override;
    bool isAvailable() override;
    SharedState* sharedState() override { return this; }
    std::optional<QString> latestKey(const QString& userid, const QString& bundleid, const QString& platform,
                                     const QString& proposedKey) override;
    std::optional<QList<StoredApp>> appsOfLatestKey(const QString& key, int limit) override;
    std::optional<bool> setAppDescription(const QString& appid, const QString& text) override;
    std::optional<qint64> appListStamp(const QString& userid) override;

    std::optional<int> takeRate(const QString& key, int limit, std::chrono::milliseconds window) override;
    std::optional<QString> valueOrPut(const QString& name, const QString& proposed) override;

    struct Connection;
    struct Query;
    class Result;

private:
    class Lease;
    explicit PostgresDatabase(std::vector<Connection*> connections);
    Connection* acquire();
    void release(Connection* connection);
    Result run(const Query& query, const QList<QByteArray>& params);

    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<Connection*> m_all;
    std::vector<Connection*> m_free;
    std::atomic<unsigned> m_rateCalls{0};
};
