#pragma once

#include <QList>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct sqlite3;

// One stored app record; field names follow the wire keys of /createapp.
struct StoredApp {
    QString appid;
    QString userid;
    QString appname;
    QString appicon;
    QString appversion;
    QString appurl;
    QString appdate;
    QString appsize;
    QString minos;
    QString qrLink;
    QString appdescription;
    // Optional: "" when the client did not send them (stored as NULL).
    QString profilekind;
    QString profileexpiry;
    QString provisioneddevices;

    bool operator==(const StoredApp&) const = default;
};

struct StoredUser {
    QString userid;
    QString email;
    QString username;
    QString photoURL;

    bool operator==(const StoredUser&) const = default;
};

struct StoredInstall {
    QString id;
    QString appid;
    QString platform;
    QString name;
    QString useragent;
    qint64 createdAt = 0; // seconds since the epoch; set by the database on insert
    bool repeat = false;  // the same address opened the same app's install link shortly before

    bool operator==(const StoredInstall&) const = default;
};

struct StoredCrash {
    QString name;
    QString reason;
    QString exception;
    QString callStackSymbols;
};

// The service's records in one SQLite file (WAL mode). Safe to use from many threads: every
// call borrows one connection of a small pool, so reads run side by side; writes go one at
// a time.
class Database {
public:
    enum class Insert { Added, Duplicate, Failed };

    // Opens (creating when needed) "<folder>/vantry.sqlite3". On failure returns nullptr and
    // fills *error.
    static std::unique_ptr<Database> open(const QString& folder, QString* error, int connections = 4);
    static QString fileName() { return QStringLiteral("vantry.sqlite3"); }
    ~Database();

    // Returns true when the user was new.
    std::optional<bool> upsertUser(const StoredUser& user);

    enum class UserSave {
        Added,               // a new user, holding newSecretHash
        Updated,             // the caller proved the user's secret
        UpdatedAndSecretSet, // a user without a secret (one stored before secrets), now newSecretHash
        Refused,             // the user has another secret
        Failed
    };
    // Adds or updates a user. A user that has a secret is updated only when presentedHash is it.
    UserSave saveUser(const StoredUser& user, const QString& presentedHash, const QString& newSecretHash);
    // The hash of the user's secret; empty for an unknown user or one without a secret. Nothing
    // when the database failed.
    std::optional<QString> secretHash(const QString& userid);
    std::optional<StoredUser> user(const QString& userid);

    Insert insertApp(const StoredApp& app);
    // In the order they were stored.
    std::optional<QList<StoredApp>> appsOf(const QString& userid);
    // Apps are never changed or removed, so the count tells whether a user's list changed.
    std::optional<qint64> appCount(const QString& userid);
    std::optional<StoredApp> app(const QString& appid);

    Insert insertInstall(const StoredInstall& install);
    // Repeats left out unless asked for.
    std::optional<QList<StoredInstall>> installsOf(const QString& appid, bool withRepeats = false);

    bool insertCrash(const StoredCrash& crash);
    std::optional<int> crashCount();

    // Whether a query can run at all (the liveness probe).
    bool isAvailable();

private:
    class Lease;
    explicit Database(std::vector<sqlite3*> connections);
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
