#pragma once

#include "server/Database.h"
#include "server/database/ConnectionPool.h"

// Every Database method, written once over a pool of connections of either engine: the engines
// differ only below SqlConnection (how a statement is sent, how a duplicate shows).
class SqlDatabase : public Database {
public:
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
    uint64_t failureCount() const override { return m_pool.failures(); }
    std::optional<QString> latestKey(const QString& userid, const QString& bundleid, const QString& platform,
                                     const QString& proposedKey) override;
    std::optional<QList<StoredApp>> appsOfLatestKey(const QString& key, int limit) override;
    std::optional<bool> setAppDescription(const QString& appid, const QString& text) override;
    std::optional<qint64> appListStamp(const QString& userid) override;
    std::optional<QString> provisionedDeviceIds(const QString& appid) override;
    bool insertDeviceChallenge(const QString& challenge, const QString& appid, qint64 expiresAt,
                               qint64 now) override;
    std::optional<bool> takeDeviceChallenge(const QString& challenge, const QString& appid,
                                            qint64 now) override;
    Insert insertDeviceCheck(const StoredDeviceCheck& check, qint64 dropBefore) override;
    std::optional<StoredDeviceCheck> deviceCheck(const QString& id) override;
    std::optional<QList<StoredDeviceCheck>> deviceChecksOf(const QString& appid, qint64 since) override;

protected:
    explicit SqlDatabase(std::vector<std::unique_ptr<SqlConnection>> connections,
                         ConnectionPool::FailureLog log = {});

    ConnectionPool m_pool;
};
