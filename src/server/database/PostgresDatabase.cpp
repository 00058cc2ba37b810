#include "server/database/PostgresDatabase.h"

#include "core/Log.h"
#include "server/database/Schema.h"

#include <QDateTime>

#include <libpq-fe.h>

#include <unordered_set>

// One pooled libpq connection and the statements already prepared on it (a reconnect forgets them).
struct PostgresDatabase::Connection {
    PGconn* conn = nullptr;
    std::unordered_set<const Query*> prepared;
};

// A statement prepared once per connection under its own name.
struct PostgresDatabase::Query {
    const char* name;
    const char* sql;
};

class PostgresDatabase::Result {
public:
    explicit Result(PGresult* result = nullptr) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(Result&& other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}
    Result& operator=(Result&& other) noexcept {
        std::swap(m_result, other.m_result);
        return *this;
    }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool ok() const {
        const ExecStatusType s = PQresultStatus(m_result);
        return m_result && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
    }
    int rows() const { return ok() ? PQntuples(m_result) : 0; }
    // Rows an INSERT or UPDATE touched.
    int changed() const { return ok() ? std::atoi(PQcmdTuples(m_result)) : 0; }
    bool isNull(int row, int column) const { return PQgetisnull(m_result, row, column); }
    QString text(int row, int column) const {
        return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
    }
    QByteArray sqlState() const {
        const char* state = m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr;
        return state ? QByteArray(state) : QByteArray();
    }
    qint64 integer(int row, int column) const {
        return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
    }

private:
    PGresult* m_result;
};

namespace {

using Query = PostgresDatabase::Query;

qint64 now() {
    return QDateTime::currentSecsSinceEpoch();
}

QByteArray number(qint64 value) {
    return QByteArray::number(value);
}

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

PGconn* connect(const QByteArray& url, QString* error) {
    // Keywords before the URL are defaults the URL may override: a server that does not answer
    // must not hang a request thread for the operating system's minutes.
    const char* const keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* const values[] = {"5", "vantry-server", url.constData(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn) != CONNECTION_OK) {
        *error = QStringLiteral("cannot connect to PostgreSQL: %1")
                     .arg(QString::fromUtf8(PQerrorMessage(conn)).trimmed());
        PQfinish(conn);
        return nullptr;
    }
    // Texts go in and come out as UTF-8 whatever the server's default.
    PQsetClientEncoding(conn, "UTF8");
    // Notices ("already exists, skipping") are not for the service's log.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    return conn;
}

bool exec(PGconn* conn, const char* sql, QString* error) {
    PGresult* r = PQexec(conn, sql);
    const ExecStatusType s = PQresultStatus(r);
    const bool ok = s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    if (!ok)
        *error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    PQclear(r);
    return ok;
}

std::optional<qint64> firstNumber(PGconn* conn, const char* sql) {
    PGresult* r = PQexec(conn, sql);
    std::optional<qint64> value;
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 && !PQgetisnull(r, 0, 0))
        value = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
    PQclear(r);
    return value;
}

// Instances that start together take turns at the schema: the lock is the database's own and
// ends with the transaction.
bool migrate(PGconn* conn, QString* error) {
    QString ignored;
    if (!exec(conn, "BEGIN; SELECT pg_advisory_xact_lock(7411020519)", error))
        return false;
    const SchemaConnection connection{[conn](const char* sql, QString* e) { return exec(conn, sql, e); },
                                      [conn](const char* sql) { return firstNumber(conn, sql); }};
    if (!migrateSchema(SchemaEngine::Postgres, connection, 0, error)) {
        exec(conn, "ROLLBACK", &ignored);
        return false;
    }
    return exec(conn, "COMMIT", error);
}

const Query kInsertUser{"insert_user",
                        "INSERT INTO users (userid, email, username, photo_url, created_at, updated_at) "
                        "VALUES ($1, $2, $3, $4, $5, $5) ON CONFLICT (userid) DO NOTHING"};
const Query kUpdateUser{"update_user", "UPDATE users SET email = $1, username = $2, photo_url = $3, "
                                       "updated_at = $4 WHERE userid = $5"};
const Query kInsertUserWithSecret{
    "insert_user_secret",
    "INSERT INTO users (userid, email, username, photo_url, created_at, updated_at, secret_hash) "
    "VALUES ($1, $2, $3, $4, $5, $5, $6) ON CONFLICT (userid) DO NOTHING"};
// One statement decides and writes, so two first registrations cannot both get a secret.
const Query kUpdateUserWithSecret{
    "update_user_secret",
    "UPDATE users SET email = $1, username = $2, photo_url = $3, updated_at = $4, "
    "secret_hash = CASE WHEN secret_hash IS NULL OR secret_hash = 'reset' THEN $5 ELSE secret_hash END "
    "WHERE userid = $6 AND (secret_hash IS NULL OR secret_hash = 'reset' OR secret_hash = $7) "
    "RETURNING secret_hash"};
const Query kSecretHash{"secret_hash", "SELECT secret_hash FROM users WHERE userid = $1"};
const Query kResetSecret{"reset_secret",
                         "UPDATE users SET secret_hash = 'reset', updated_at = $1 WHERE userid = $2"};
const Query kUser{"user", "SELECT userid, email, username, photo_url FROM users WHERE userid = $1"};
const Query kInsertApp{
    "insert_app",
    "INSERT INTO apps (appid, userid, appname, appicon, appversion, appurl, appdate, appsize, "
    "minos, qrlink, appdescription, created_at, profile_kind, profile_expiry, provisioned_devices, bundleid, "
    "latest_key) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, NULLIF($13, ''), "
    "NULLIF($14, ''), NULLIF($15, ''), NULLIF($16, ''), NULLIF($17, '')) ON CONFLICT (appid) DO NOTHING"};
#define VANTRY_APP_COLUMNS                                                                                   \
    "SELECT appid, userid, appname, appicon, appversion, appurl, appdate, appsize, minos, qrlink, "          \
    "appdescription, profile_kind, profile_expiry, provisioned_devices, bundleid, latest_key FROM apps "
const Query kAppsOf{"apps_of", VANTRY_APP_COLUMNS "WHERE userid = $1 ORDER BY seq"};
const Query kAppCount{"app_count", "SELECT count(*) FROM apps WHERE userid = $1"};
const Query kApp{"app", VANTRY_APP_COLUMNS "WHERE appid = $1"};
const Query kAppsOfLatestKey{"apps_of_latest_key",
                             VANTRY_APP_COLUMNS "WHERE latest_key = $1 ORDER BY seq DESC LIMIT $2"};
#undef VANTRY_APP_COLUMNS
const Query kInsertInstall{"insert_install",
                           "INSERT INTO installs (id, appid, platform, name, useragent, created_at, repeat) "
                           "VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (id) DO NOTHING"};
const Query kInstallsOf{"installs_of", "SELECT id, appid, platform, name, useragent, created_at, repeat "
                                       "FROM installs WHERE appid = $1 AND repeat = 0 ORDER BY seq"};
const Query kAllInstallsOf{"all_installs_of",
                           "SELECT id, appid, platform, name, useragent, created_at, repeat "
                           "FROM installs WHERE appid = $1 ORDER BY seq"};
const Query kInsertCrash{"insert_crash",
                         "INSERT INTO crashes (name, reason, exception, call_stack_symbols, received_at) "
                         "VALUES ($1, $2, $3, $4, $5)"};
const Query kCrashCount{"crash_count", "SELECT COUNT(*) FROM crashes"};
const Query kPing{"ping", "SELECT 1"};
// One upsert counts the event and tells whether it fits: the count stops one past the limit,
// so "count <= limit" is the answer. The row lock of ON CONFLICT orders instances that count
// the same key at once, and the database's clock is the one every instance reads.
const Query kTakeRate{
    "take_rate",
    "INSERT INTO rate_counts AS r (key, expires_at, count) "
    "VALUES ($1, (extract(epoch FROM now()) * 1000)::bigint + $2::bigint, 1) "
    "ON CONFLICT (key) DO UPDATE SET "
    "count = CASE WHEN r.expires_at <= EXCLUDED.expires_at - $2::bigint THEN 1 "
    "WHEN r.count <= $3::integer THEN r.count + 1 ELSE r.count END, "
    "expires_at = CASE WHEN r.expires_at <= EXCLUDED.expires_at - $2::bigint THEN EXCLUDED.expires_at "
    "ELSE r.expires_at END "
    "RETURNING count, expires_at - (extract(epoch FROM now()) * 1000)::bigint"};
const Query kForgetRates{
    "forget_rates", "DELETE FROM rate_counts WHERE expires_at <= (extract(epoch FROM now()) * 1000)::bigint"};
const Query kPutSetting{"put_setting",
                        "INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO NOTHING"};
const Query kSetting{"setting", "SELECT value FROM settings WHERE name = $1"};
// The first build's key is stored, a later build's is read. The statement's snapshot does not
// show a row another instance adds at the same moment: no row then, and the caller draws again.
const Query kLatestKey{
    "latest_key",
    "WITH added AS (INSERT INTO latest_links (key, userid, bundleid, platform, created_at) "
    "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING RETURNING key) "
    "SELECT key FROM added UNION ALL "
    "SELECT key FROM latest_links WHERE userid = $2 AND bundleid = $3 AND platform = $4 LIMIT 1"};
// Notes and stamp change in one statement.
const Query kSetDescription{
    "set_description",
    "WITH changed AS (UPDATE apps SET appdescription = $2 WHERE appid = $1 RETURNING userid), "
    "bumped AS (UPDATE users SET app_edits = app_edits + 1 WHERE userid IN (SELECT userid FROM changed)) "
    "SELECT count(*) FROM changed"};
const Query kAppListStamp{"app_list_stamp", "SELECT (SELECT count(*) FROM apps WHERE userid = $1) + "
                                            "COALESCE((SELECT app_edits FROM users WHERE userid = $1), 0)"};

// Expired windows are deleted now and then rather than on every count.
constexpr unsigned kForgetEvery = 4096;

Database::Insert insertResult(const PostgresDatabase::Result& r) {
    if (!r.ok())
        return Database::Insert::Failed;
    return r.changed() > 0 ? Database::Insert::Added : Database::Insert::Duplicate;
}

} // namespace

// Borrows one pooled connection for the length of a call.
class PostgresDatabase::Lease {
public:
    explicit Lease(PostgresDatabase& owner) : m_owner(owner), m_connection(owner.acquire()) {}
    ~Lease() { m_owner.release(m_connection); }
    Connection* get() const { return m_connection; }

private:
    PostgresDatabase& m_owner;
    Connection* m_connection;
};

std::unique_ptr<Database> PostgresDatabase::open(const QString& url, QString* error, int connections) {
    const QByteArray encoded = url.toUtf8();
    std::vector<Connection*> pool;
    const auto fail = [&pool]() {
        for (Connection* c : pool) {
            PQfinish(c->conn);
            delete c;
        }
        return nullptr;
    };
    for (int i = 0; i < qMax(1, connections); ++i) {
        PGconn* conn = connect(encoded, error);
        if (!conn)
            return fail();
        pool.push_back(new Connection{conn, {}});
        if (i == 0 && !migrate(conn, error))
            return fail();
    }
    return std::unique_ptr<Database>(new PostgresDatabase(std::move(pool)));
}

PostgresDatabase::PostgresDatabase(std::vector<Connection*> connections)
    : m_all(connections), m_free(std::move(connections)) {}

PostgresDatabase::~PostgresDatabase() {
    for (Connection* c : m_all) {
        PQfinish(c->conn);
        delete c;
    }
}

PostgresDatabase::Connection* PostgresDatabase::acquire() {
    std::unique_lock lock(m_mutex);
    m_available.wait(lock, [this] { return !m_free.empty(); });
    Connection* c = m_free.back();
    m_free.pop_back();
    return c;
}

void PostgresDatabase::release(Connection* connection) {
    {
        std::lock_guard lock(m_mutex);
        m_free.push_back(connection);
    }
    m_available.notify_one();
}

PostgresDatabase::Result PostgresDatabase::run(const Query& query, const QList<QByteArray>& params) {
    Lease lease(*this);
    Connection& c = *lease.get();
    std::vector<const char*> values;
    values.reserve(size_t(params.size()));
    for (const QByteArray& p : params)
        values.push_back(p.constData());
    // The server closed the connection (a restart, an administrator's terminate): it shows on
    // the next statement, which is then sent once more on a fresh connection.
    const auto lost = [&c](const Result& r) {
        const QByteArray state = r.sqlState();
        return PQstatus(c.conn) != CONNECTION_OK || state.startsWith("08") || state.startsWith("57P0");
    };
    const auto failed = [&c, &query](Result r) {
        const QString message = QString::fromUtf8(PQerrorMessage(c.conn)).section(QLatin1Char('\n'), 0, 0);
        logLine(QStringLiteral("PostgreSQL: %1: %2").arg(QLatin1String(query.name), message));
        return r;
    };
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0 || PQstatus(c.conn) != CONNECTION_OK) {
            PQreset(c.conn);
            c.prepared.clear();
            if (PQstatus(c.conn) != CONNECTION_OK)
                return failed(Result());
            PQsetClientEncoding(c.conn, "UTF8");
        }
        if (!c.prepared.count(&query)) {
            Result prepared(PQprepare(c.conn, query.name, query.sql, int(values.size()), nullptr));
            if (!prepared.ok()) {
                if (attempt == 0 && lost(prepared))
                    continue;
                return failed(std::move(prepared));
            }
            c.prepared.insert(&query);
        }
        Result r(PQexecPrepared(c.conn, query.name, int(values.size()), values.data(), nullptr, nullptr, 0));
        if (r.ok())
            return r;
        if (attempt == 0 && lost(r))
            continue;
        return failed(std::move(r));
    }
}

std::optional<bool> PostgresDatabase::upsertUser(const StoredUser& user) {
    const QByteArray t = number(now());
    const Result inserted =
        run(kInsertUser, {utf8(user.userid), utf8(user.email), utf8(user.username), utf8(user.photoURL), t});
    if (!inserted.ok())
        return std::nullopt;
    if (inserted.changed() > 0)
        return true;
    if (!run(kUpdateUser, {utf8(user.email), utf8(user.username), utf8(user.photoURL), t, utf8(user.userid)})
             .ok())
        return std::nullopt;
    return false;
}

Database::UserSave PostgresDatabase::saveUser(const StoredUser& user, const QString& presentedHash,
                                              const QString& newSecretHash) {
    const QByteArray t = number(now());
    const Result inserted =
        run(kInsertUserWithSecret, {utf8(user.userid), utf8(user.email), utf8(user.username),
                                    utf8(user.photoURL), t, utf8(newSecretHash)});
    if (!inserted.ok())
        return UserSave::Failed;
    if (inserted.changed() > 0)
        return UserSave::Added;
    const Result updated =
        run(kUpdateUserWithSecret, {utf8(user.email), utf8(user.username), utf8(user.photoURL), t,
                                    utf8(newSecretHash), utf8(user.userid), utf8(presentedHash)});
    if (!updated.ok())
        return UserSave::Failed;
    if (updated.rows() == 0)
        return UserSave::Refused;
    return updated.text(0, 0) == newSecretHash ? UserSave::UpdatedAndSecretSet : UserSave::Updated;
}

std::optional<StoredSecret> PostgresDatabase::secretOf(const QString& userid) {
    const Result r = run(kSecretHash, {utf8(userid)});
    if (!r.ok())
        return std::nullopt;
    if (r.rows() == 0)
        return StoredSecret{};
    return StoredSecret{true, r.isNull(0, 0) ? QString() : r.text(0, 0)};
}

std::optional<bool> PostgresDatabase::resetSecret(const QString& userid) {
    const Result r = run(kResetSecret, {number(now()), utf8(userid)});
    if (!r.ok())
        return std::nullopt;
    return r.changed() > 0;
}

std::optional<StoredUser> PostgresDatabase::user(const QString& userid) {
    const Result r = run(kUser, {utf8(userid)});
    if (r.rows() == 0)
        return std::nullopt;
    return StoredUser{r.text(0, 0), r.text(0, 1), r.text(0, 2), r.text(0, 3)};
}

Database::Insert PostgresDatabase::insertApp(const StoredApp& app) {
    return insertResult(
        run(kInsertApp,
            {utf8(app.appid), utf8(app.userid), utf8(app.appname), utf8(app.appicon), utf8(app.appversion),
             utf8(app.appurl), utf8(app.appdate), utf8(app.appsize), utf8(app.minos), utf8(app.qrLink),
             utf8(app.appdescription), number(now()), utf8(app.profilekind), utf8(app.profileexpiry),
             utf8(app.provisioneddevices), utf8(app.bundleid), utf8(app.latestKey)}));
}

namespace {
StoredApp readApp(const PostgresDatabase::Result& r, int row) {
    return StoredApp{r.text(row, 0),  r.text(row, 1),  r.text(row, 2),  r.text(row, 3),
                     r.text(row, 4),  r.text(row, 5),  r.text(row, 6),  r.text(row, 7),
                     r.text(row, 8),  r.text(row, 9),  r.text(row, 10), r.text(row, 11),
                     r.text(row, 12), r.text(row, 13), r.text(row, 14), r.text(row, 15)};
}
} // namespace

std::optional<QList<StoredApp>> PostgresDatabase::appsOf(const QString& userid) {
    const Result r = run(kAppsOf, {utf8(userid)});
    if (!r.ok())
        return std::nullopt;
    QList<StoredApp> apps;
    apps.reserve(r.rows());
    for (int row = 0; row < r.rows(); ++row)
        apps.append(readApp(r, row));
    return apps;
}

std::optional<qint64> PostgresDatabase::appCount(const QString& userid) {
    const Result r = run(kAppCount, {utf8(userid)});
    if (r.rows() == 0)
        return std::nullopt;
    return r.text(0, 0).toLongLong();
}

std::optional<StoredApp> PostgresDatabase::app(const QString& appid) {
    const Result r = run(kApp, {utf8(appid)});
    if (r.rows() == 0)
        return std::nullopt;
    return readApp(r, 0);
}

Database::Insert PostgresDatabase::insertInstall(const StoredInstall& install) {
    return insertResult(run(kInsertInstall, {utf8(install.id), utf8(install.appid), utf8(install.platform),
                                             utf8(install.name), utf8(install.useragent), number(now()),
                                             number(install.repeat ? 1 : 0)}));
}

std::optional<QList<StoredInstall>> PostgresDatabase::installsOf(const QString& appid, bool withRepeats) {
    const Result r = run(withRepeats ? kAllInstallsOf : kInstallsOf, {utf8(appid)});
    if (!r.ok())
        return std::nullopt;
    QList<StoredInstall> installs;
    installs.reserve(r.rows());
    for (int row = 0; row < r.rows(); ++row)
        installs.append(StoredInstall{r.text(row, 0), r.text(row, 1), r.text(row, 2), r.text(row, 3),
                                      r.text(row, 4), r.integer(row, 5), r.integer(row, 6) != 0});
    return installs;
}

bool PostgresDatabase::insertCrash(const StoredCrash& crash) {
    return run(kInsertCrash, {utf8(crash.name), utf8(crash.reason), utf8(crash.exception),
                              utf8(crash.callStackSymbols), number(now())})
        .ok();
}

std::optional<int> PostgresDatabase::crashCount() {
    const Result r = run(kCrashCount, {});
    if (r.rows() == 0)
        return std::nullopt;
    return int(r.integer(0, 0));
}

bool PostgresDatabase::isAvailable() {
    return run(kPing, {}).rows() == 1;
}

std::optional<int> PostgresDatabase::takeRate(const QString& key, int limit,
                                              std::chrono::milliseconds window) {
    if (m_rateCalls.fetch_add(1, std::memory_order_relaxed) % kForgetEvery == kForgetEvery - 1)
        run(kForgetRates, {});
    const Result r = run(kTakeRate, {utf8(key), number(window.count()), number(limit)});
    if (r.rows() == 0 || r.integer(0, 0) <= limit)
        return std::nullopt;
    const qint64 leftMs = r.integer(0, 1);
    return int(qMax<qint64>(1, (leftMs + 999) / 1000));
}

std::optional<QString> PostgresDatabase::valueOrPut(const QString& name, const QString& proposed) {
    if (!run(kPutSetting, {utf8(name), utf8(proposed)}).ok())
        return std::nullopt;
    const Result r = run(kSetting, {utf8(name)});
    if (r.rows() == 0)
        return std::nullopt;
    return r.text(0, 0);
}

std::optional<QString> PostgresDatabase::latestKey(const QString& userid, const QString& bundleid,
                                                   const QString& platform, const QString& proposedKey) {
    const Result r =
        run(kLatestKey, {utf8(proposedKey), utf8(userid), utf8(bundleid), utf8(platform), number(now())});
    if (!r.ok())
        return std::nullopt;
    return r.rows() > 0 ? r.text(0, 0) : QString();
}

std::optional<QList<StoredApp>> PostgresDatabase::appsOfLatestKey(const QString& key, int limit) {
    const Result r = run(kAppsOfLatestKey, {utf8(key), number(limit)});
    if (!r.ok())
        return std::nullopt;
    QList<StoredApp> apps;
    for (int row = 0; row < r.rows(); ++row)
        apps.append(readApp(r, row));
    return apps;
}

std::optional<bool> PostgresDatabase::setAppDescription(const QString& appid, const QString& text) {
    const Result r = run(kSetDescription, {utf8(appid), utf8(text)});
    if (r.rows() == 0)
        return std::nullopt;
    return r.integer(0, 0) > 0;
}

std::optional<qint64> PostgresDatabase::appListStamp(const QString& userid) {
    const Result r = run(kAppListStamp, {utf8(userid)});
    if (r.rows() == 0)
        return std::nullopt;
    return r.integer(0, 0);
}
