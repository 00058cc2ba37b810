#include "server/database/SqliteDatabase.h"

#include "server/PrivateFiles.h"
#include "server/database/Schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>

namespace {

constexpr int kBusyTimeoutMs = 10000;

qint64 now() {
    return QDateTime::currentSecsSinceEpoch();
}

// A prepared statement that finalizes itself; binds texts by position starting at 1.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement& bind(const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        if (m_stmt)
            sqlite3_bind_text(m_stmt, ++m_index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // An empty text becomes NULL.
    Statement& bindOptional(const QString& text) {
        if (!text.isEmpty())
            return bind(text);
        if (m_stmt)
            sqlite3_bind_null(m_stmt, ++m_index);
        return *this;
    }
    Statement& bind(qint64 value) {
        if (m_stmt)
            sqlite3_bind_int64(m_stmt, ++m_index, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE, or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    QString text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_index = 0;
};

Database::Insert insertResult(int rc) {
    if (rc == SQLITE_DONE)
        return Database::Insert::Added;
    if (rc == SQLITE_CONSTRAINT)
        return Database::Insert::Duplicate;
    return Database::Insert::Failed;
}

sqlite3* openConnection(const QByteArray& path, QString* error) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.constData(), &db, flags, nullptr) != SQLITE_OK) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(QFile::decodeName(path), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 0);
    return db;
}

bool exec(sqlite3* db, const char* sql, QString* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    *error = QString::fromUtf8(message ? message : "unknown SQLite error");
    sqlite3_free(message);
    return false;
}

std::optional<qint64> number(sqlite3* db, const char* sql) {
    Statement s(db, sql);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return s.integer(0);
}

// Runs a migration step statement by statement. A column it adds that is there already (a file
// of a server that added it before schema_version) is taken as added.
bool execStep(sqlite3* db, const char* sql, QString* error) {
    const char* rest = sql;
    while (rest && *rest) {
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db, rest, -1, &stmt, &tail);
        if (rc == SQLITE_OK && stmt) {
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            }
            sqlite3_finalize(stmt);
        }
        if (rc != SQLITE_OK && rc != SQLITE_DONE) {
            const QString message = QString::fromUtf8(sqlite3_errmsg(db));
            const QByteArray statement(rest, tail ? qsizetype(tail - rest) : qsizetype(qstrlen(rest)));
            if (!statement.contains("ADD COLUMN") || !message.contains(QLatin1String("duplicate column"))) {
                *error = message;
                return false;
            }
        }
        rest = tail;
    }
    return true;
}

// Files from before schema_version kept their version in user_version: 1, 2, then 3 for the
// profile columns, which are schema step 4 here (step 3 is the shared state). Such a file is
// taken as version 2 at most and brought forward from there.
bool migrate(sqlite3* db, QString* error) {
    const bool hadTables =
        number(db, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'apps'").value_or(0) >
        0;
    const int adopted =
        hadTables ? int(std::clamp<qint64>(number(db, "PRAGMA user_version").value_or(1), 1, 2)) : 0;
    const SchemaConnection connection{[db](const char* sql, QString* e) { return execStep(db, sql, e); },
                                      [db](const char* sql) { return number(db, sql); }};
    return migrateSchema(SchemaEngine::Sqlite, connection, adopted, error);
}

} // namespace

// Borrows one pooled connection for the length of a call.
class SqliteDatabase::Lease {
public:
    explicit Lease(SqliteDatabase& owner) : m_owner(owner), m_db(owner.acquire()) {}
    ~Lease() { m_owner.release(m_db); }
    sqlite3* get() const { return m_db; }

private:
    SqliteDatabase& m_owner;
    sqlite3* m_db;
};

std::unique_ptr<Database> SqliteDatabase::open(const QString& filePath, QString* error, int connections) {
    QString ignored;
    if (!error)
        error = &ignored;
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!makePrivateFolder(folder, false)) {
        *error = QStringLiteral("cannot create the data folder %1").arg(folder);
        return nullptr;
    }
    // SQLite gives the -wal and -shm files it makes the database's own mode.
    if (!makePrivateFile(filePath, {"-wal", "-shm"}, error))
        return nullptr;
    const QByteArray path = QFile::encodeName(filePath);
    std::vector<sqlite3*> pool;
    const auto fail = [&pool]() {
        for (sqlite3* db : pool)
            sqlite3_close(db);
        return nullptr;
    };
    for (int i = 0; i < qMax(1, connections); ++i) {
        sqlite3* db = openConnection(path, error);
        if (!db)
            return fail();
        pool.push_back(db);
        if (i == 0) {
            // WAL lets readers run while one writer commits.
            if (!exec(db, "PRAGMA journal_mode=WAL;", error) || !exec(db, "BEGIN IMMEDIATE;", error))
                return fail();
            if (!migrate(db, error)) {
                exec(db, "ROLLBACK;", &ignored);
                return fail();
            }
            if (!exec(db, "COMMIT;", error))
                return fail();
        }
        // NORMAL sync is durable across process crashes, which is what a restart must survive.
        // It is a setting of each connection: left out on one, every commit there waits for
        // the disk.
        exec(db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", &ignored);
    }
    return std::unique_ptr<Database>(new SqliteDatabase(std::move(pool)));
}

SqliteDatabase::SqliteDatabase(std::vector<sqlite3*> connections)
    : m_all(connections), m_free(std::move(connections)) {}

SqliteDatabase::~SqliteDatabase() {
    for (sqlite3* db : m_all)
        sqlite3_close(db);
}

sqlite3* SqliteDatabase::acquire() {
    std::unique_lock lock(m_mutex);
    m_available.wait(lock, [this] { return !m_free.empty(); });
    sqlite3* db = m_free.back();
    m_free.pop_back();
    return db;
}

void SqliteDatabase::release(sqlite3* db) {
    {
        std::lock_guard lock(m_mutex);
        m_free.push_back(db);
    }
    m_available.notify_one();
}

std::optional<bool> SqliteDatabase::upsertUser(const StoredUser& user) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    const qint64 t = now();
    Statement insert(lease.get(),
                     "INSERT INTO users (userid, email, username, photo_url, created_at, updated_at) "
                     "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT(userid) DO NOTHING");
    insert.bind(user.userid).bind(user.email).bind(user.username).bind(user.photoURL).bind(t).bind(t);
    if (insert.step() != SQLITE_DONE)
        return std::nullopt;
    if (sqlite3_changes(lease.get()) > 0)
        return true;
    Statement update(
        lease.get(),
        "UPDATE users SET email = ?, username = ?, photo_url = ?, updated_at = ? WHERE userid = ?");
    update.bind(user.email).bind(user.username).bind(user.photoURL).bind(t).bind(user.userid);
    if (update.step() != SQLITE_DONE)
        return std::nullopt;
    return false;
}

Database::UserSave SqliteDatabase::saveUser(const StoredUser& user, const QString& presentedHash,
                                            const QString& newSecretHash) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    const qint64 t = now();
    Statement insert(
        lease.get(),
        "INSERT INTO users (userid, email, username, photo_url, created_at, updated_at, secret_hash) "
        "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT(userid) DO NOTHING");
    insert.bind(user.userid).bind(user.email).bind(user.username).bind(user.photoURL).bind(t).bind(t);
    insert.bind(newSecretHash);
    if (insert.step() != SQLITE_DONE)
        return UserSave::Failed;
    if (sqlite3_changes(lease.get()) > 0)
        return UserSave::Added;
    // One statement decides and writes, so two first registrations cannot both get a secret.
    Statement update(lease.get(),
                     "UPDATE users SET email = ?, username = ?, photo_url = ?, updated_at = ?, "
                     "secret_hash = CASE WHEN secret_hash IS NULL OR secret_hash = 'reset' THEN ? "
                     "ELSE secret_hash END "
                     "WHERE userid = ? AND (secret_hash IS NULL OR secret_hash = 'reset' OR secret_hash = ?) "
                     "RETURNING secret_hash");
    update.bind(user.email).bind(user.username).bind(user.photoURL).bind(t).bind(newSecretHash);
    update.bind(user.userid).bind(presentedHash);
    const int rc = update.step();
    if (rc == SQLITE_DONE)
        return UserSave::Refused;
    if (rc != SQLITE_ROW)
        return UserSave::Failed;
    const bool secretSet = update.text(0) == newSecretHash;
    if (update.step() != SQLITE_DONE)
        return UserSave::Failed;
    return secretSet ? UserSave::UpdatedAndSecretSet : UserSave::Updated;
}

std::optional<StoredSecret> SqliteDatabase::secretOf(const QString& userid) {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT secret_hash FROM users WHERE userid = ?");
    s.bind(userid);
    const int rc = s.step();
    if (rc == SQLITE_DONE)
        return StoredSecret{};
    if (rc != SQLITE_ROW)
        return std::nullopt;
    return StoredSecret{true, s.text(0)};
}

std::optional<bool> SqliteDatabase::resetSecret(const QString& userid) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    Statement s(lease.get(), "UPDATE users SET secret_hash = 'reset', updated_at = ? WHERE userid = ?");
    s.bind(now()).bind(userid);
    if (s.step() != SQLITE_DONE)
        return std::nullopt;
    return sqlite3_changes(lease.get()) > 0;
}

std::optional<StoredUser> SqliteDatabase::user(const QString& userid) {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT userid, email, username, photo_url FROM users WHERE userid = ?");
    s.bind(userid);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return StoredUser{s.text(0), s.text(1), s.text(2), s.text(3)};
}

Database::Insert SqliteDatabase::insertApp(const StoredApp& app) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    Statement s(
        lease.get(),
        "INSERT INTO apps (appid, userid, appname, appicon, appversion, appurl, appdate, appsize, "
        "minos, qrlink, appdescription, created_at, profile_kind, profile_expiry, provisioned_devices, "
        "bundleid, latest_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(app.appid)
        .bind(app.userid)
        .bind(app.appname)
        .bind(app.appicon)
        .bind(app.appversion)
        .bind(app.appurl);
    s.bind(app.appdate)
        .bind(app.appsize)
        .bind(app.minos)
        .bind(app.qrLink)
        .bind(app.appdescription)
        .bind(now());
    s.bindOptional(app.profilekind).bindOptional(app.profileexpiry).bindOptional(app.provisioneddevices);
    s.bindOptional(app.bundleid).bindOptional(app.latestKey);
    return insertResult(s.step());
}

namespace {
constexpr const char* kAppColumns =
    "SELECT appid, userid, appname, appicon, appversion, appurl, appdate, appsize, "
    "minos, qrlink, appdescription, profile_kind, profile_expiry, provisioned_devices, bundleid, "
    "latest_key FROM apps ";
StoredApp readApp(const Statement& s) {
    return StoredApp{s.text(0),  s.text(1),  s.text(2),  s.text(3), s.text(4),  s.text(5),
                     s.text(6),  s.text(7),  s.text(8),  s.text(9), s.text(10), s.text(11),
                     s.text(12), s.text(13), s.text(14), s.text(15)};
}
} // namespace

std::optional<QList<StoredApp>> SqliteDatabase::appsOf(const QString& userid) {
    Lease lease(*this);
    const QByteArray sql = QByteArray(kAppColumns) + "WHERE userid = ? ORDER BY seq";
    Statement s(lease.get(), sql.constData());
    s.bind(userid);
    QList<StoredApp> apps;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        apps.append(readApp(s));
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return apps;
}

std::optional<qint64> SqliteDatabase::appCount(const QString& userid) {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT count(*) FROM apps WHERE userid = ?");
    s.bind(userid);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return s.integer(0);
}

std::optional<StoredApp> SqliteDatabase::app(const QString& appid) {
    Lease lease(*this);
    const QByteArray sql = QByteArray(kAppColumns) + "WHERE appid = ?";
    Statement s(lease.get(), sql.constData());
    s.bind(appid);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return readApp(s);
}

Database::Insert SqliteDatabase::insertInstall(const StoredInstall& install) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    Statement s(lease.get(),
                "INSERT INTO installs (id, appid, platform, name, useragent, created_at, repeat) "
                "VALUES (?, ?, ?, ?, ?, ?, ?)");
    s.bind(install.id).bind(install.appid).bind(install.platform).bind(install.name).bind(install.useragent);
    s.bind(now()).bind(qint64(install.repeat ? 1 : 0));
    return insertResult(s.step());
}

std::optional<QList<StoredInstall>> SqliteDatabase::installsOf(const QString& appid, bool withRepeats) {
    Lease lease(*this);
    Statement s(lease.get(),
                withRepeats ? "SELECT id, appid, platform, name, useragent, created_at, repeat FROM installs "
                              "WHERE appid = ? ORDER BY seq"
                            : "SELECT id, appid, platform, name, useragent, created_at, repeat FROM installs "
                              "WHERE appid = ? AND repeat = 0 ORDER BY seq");
    s.bind(appid);
    QList<StoredInstall> installs;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        installs.append(StoredInstall{s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.integer(5),
                                      s.integer(6) != 0});
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return installs;
}

bool SqliteDatabase::insertCrash(const StoredCrash& crash) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    Statement s(lease.get(), "INSERT INTO crashes (name, reason, exception, call_stack_symbols, received_at) "
                             "VALUES (?, ?, ?, ?, ?)");
    s.bind(crash.name).bind(crash.reason).bind(crash.exception).bind(crash.callStackSymbols).bind(now());
    return s.step() == SQLITE_DONE;
}

std::optional<int> SqliteDatabase::crashCount() {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT COUNT(*) FROM crashes");
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return int(s.integer(0));
}

bool SqliteDatabase::isAvailable() {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT 1");
    return s.step() == SQLITE_ROW;
}

std::optional<QString> SqliteDatabase::latestKey(const QString& userid, const QString& bundleid,
                                                 const QString& platform, const QString& proposedKey) {
    // One server writes a SQLite file, and its writers take turns: look, then add.
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    Statement s(lease.get(),
                "SELECT key FROM latest_links WHERE userid = ? AND bundleid = ? AND platform = ?");
    s.bind(userid).bind(bundleid).bind(platform);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        return s.text(0);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    Statement insert(lease.get(), "INSERT INTO latest_links (key, userid, bundleid, platform, created_at) "
                                  "VALUES (?, ?, ?, ?, ?)");
    insert.bind(proposedKey).bind(userid).bind(bundleid).bind(platform).bind(now());
    switch (insertResult(insert.step())) {
    case Insert::Added:
        return proposedKey;
    case Insert::Duplicate:
        return QString();
    case Insert::Failed:
        break;
    }
    return std::nullopt;
}

std::optional<QList<StoredApp>> SqliteDatabase::appsOfLatestKey(const QString& key, int limit) {
    Lease lease(*this);
    const QByteArray sql = QByteArray(kAppColumns) + "WHERE latest_key = ? ORDER BY seq DESC LIMIT ?";
    Statement s(lease.get(), sql.constData());
    s.bind(key).bind(qint64(limit));
    QList<StoredApp> apps;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        apps.append(readApp(s));
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return apps;
}

std::optional<bool> SqliteDatabase::setAppDescription(const QString& appid, const QString& text) {
    std::lock_guard writer(m_writeMutex);
    Lease lease(*this);
    QString ignored;
    // Notes and stamp change together, or a list written in between would stay stale.
    if (!exec(lease.get(), "BEGIN IMMEDIATE;", &ignored))
        return std::nullopt;
    const auto end = [&](bool commit) {
        return exec(lease.get(), commit ? "COMMIT;" : "ROLLBACK;", &ignored);
    };
    QString owner;
    {
        Statement update(lease.get(), "UPDATE apps SET appdescription = ? WHERE appid = ? RETURNING userid");
        update.bind(text).bind(appid);
        const int rc = update.step();
        if (rc == SQLITE_DONE) {
            end(false);
            return false;
        }
        if (rc != SQLITE_ROW) {
            end(false);
            return std::nullopt;
        }
        owner = update.text(0);
        if (update.step() != SQLITE_DONE) {
            end(false);
            return std::nullopt;
        }
    }
    Statement bump(lease.get(), "UPDATE users SET app_edits = app_edits + 1 WHERE userid = ?");
    bump.bind(owner);
    if (bump.step() != SQLITE_DONE || !end(true)) {
        end(false);
        return std::nullopt;
    }
    return true;
}

std::optional<qint64> SqliteDatabase::appListStamp(const QString& userid) {
    Lease lease(*this);
    Statement s(lease.get(), "SELECT (SELECT count(*) FROM apps WHERE userid = ?1) + "
                             "COALESCE((SELECT app_edits FROM users WHERE userid = ?1), 0)");
    s.bind(userid);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return s.integer(0);
}
