#pragma once

#include "server/Database.h"

#include <condition_variable>
#include <mutex>
#include <vector>

struct sqlite3;

// The records in one SQLite file (WAL mode): reads run side by side on pooled connections,
// writes go one at a time.
class SqliteDatabase final : public Database {
public:
    // Opens (creating when needed) the file and its folder. On failure returns nullptr and fills *error.
    static std::unique_ptr<Database> open(const QString& path, QString* error, int connections);
    ~SqliteDatabase() override;

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
    std::optional<QString> latestKey(const QString& userid, const QString& bundleid, const QString& platform,
                                     const QString& proposedKey) override;
    std::optional<QList<StoredApp>> appsOfLatestKey(const QString& key, int limit) override;
    std::optional<bool> setAppDescription(const QString& appid, const QString& text) override;
    std::optional<qint64> appListStamp(const QString& userid) override;

private:
    class Lease;
    explicit SqliteDatabase(std::vector<sqlite3*> connections);
    sqlite3* acquire();
    void release(sqlite3* db);

    // Writers take turns here rather than in SQLite's busy handler, which sleeps in steps of
    // up to 100 ms when several threads want the write lock.
    std::mutex m_writeMutex;
    std::mutex m_mutex;
    std::condition_variable m_available;
    std::vector<sqlite3*> m_all;
    std::vector<sqlite3*> m_free;
};
