#include "server/database/PostgresDatabase.h"

#include "core/Log.h"
#include "server/database/Schema.h"

#include <libpq-fe.h>

#include <memory>
#include <unordered_set>

namespace {

QString firstLine(PGconn* conn) {
    return QString::fromUtf8(PQerrorMessage(conn)).section(QLatin1Char('\n'), 0, 0);
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

// The rate and repeat windows are worth nothing after a crash, so their table writes no WAL:
// counting an event then never waits for the disk, and the install redirect, which counts one and
// stores the install, waits for one flush instead of two (twice the redirects a second measured).
// Set here rather than in a schema step, so that a SQLite file keeps its version.
bool keepRatesUnlogged(PGconn* conn, QString* error) {
    if (firstNumber(conn, "SELECT count(*) FROM pg_class WHERE oid = 'rate_counts'::regclass "
                          "AND relpersistence = 'p'") != 1)
        return true;
    return exec(conn, "ALTER TABLE rate_counts SET UNLOGGED", error);
}

// Instances that start together take turns at the schema: the lock is the database's own and
// ends with the transaction.
bool migrate(PGconn* conn, QString* error) {
    QString ignored;
    if (!exec(conn, "BEGIN; SELECT pg_advisory_xact_lock(7411020519)", error))
        return false;
    const SchemaConnection connection{[conn](const char* sql, QString* e) { return exec(conn, sql, e); },
                                      [conn](const char* sql) { return firstNumber(conn, sql); }};
    if (!migrateSchema(SchemaEngine::Postgres, connection, 0, error) || !keepRatesUnlogged(conn, error)) {
        exec(conn, "ROLLBACK", &ignored);
        return false;
    }
    return exec(conn, "COMMIT", error);
}

// One upsert counts the event and tells whether it fits: the count stops one past the limit,
// so "count <= limit" is the answer. The row lock of ON CONFLICT orders instances that count
// the same key at once, and the database's clock is the one every instance reads.
// Statements of the shared state, which only this engine keeps: written in its own dialect.
const SqlStatement kTakeRate{
    "take_rate",
    "INSERT INTO rate_counts AS r (key, expires_at, count) "
    "VALUES ($1, (extract(epoch FROM now()) * 1000)::bigint + $2::bigint, 1) "
    "ON CONFLICT (key) DO UPDATE SET "
    "count = CASE WHEN r.expires_at <= EXCLUDED.expires_at - $2::bigint THEN 1 "
    "WHEN r.count <= $3::integer THEN r.count + 1 ELSE r.count END, "
    "expires_at = CASE WHEN r.expires_at <= EXCLUDED.expires_at - $2::bigint THEN EXCLUDED.expires_at "
    "ELSE r.expires_at END "
    "RETURNING count, expires_at - (extract(epoch FROM now()) * 1000)::bigint"};
const SqlStatement kForgetRates{
    "forget_rates", "DELETE FROM rate_counts WHERE expires_at <= (extract(epoch FROM now()) * 1000)::bigint"};
const SqlStatement kPutSetting{
    "put_setting", "INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO NOTHING"};
const SqlStatement kSetting{"setting", "SELECT value FROM settings WHERE name = $1"};

// Expired windows are deleted now and then rather than on every count.
constexpr unsigned kForgetEvery = 4096;

// Where PostgreSQL's dialect departs from the statements' text: numbered placeholders, and a
// clash on the unique key met with ON CONFLICT rather than an error (which would also fill the
// server's log).
QByteArray postgresText(const SqlStatement& statement) {
    QByteArray sql;
    sql.reserve(qsizetype(statement.sql.size()) + 64);
    int placeholder = 0;
    for (const char c : statement.sql) {
        if (c == '?')
            sql += '$' + QByteArray::number(++placeholder);
        else
            sql += c;
    }
    if (statement.uniqueKey)
        sql += QByteArray(" ON CONFLICT (") + statement.uniqueKey + ") DO NOTHING";
    return sql;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool succeeded(const Result& r) {
    const ExecStatusType s = PQresultStatus(r.get());
    return r && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

class PostgresRow final : public SqlRow {
public:
    PostgresRow(const PGresult* result, int row) : m_result(result), m_row(row) {}
    QString text(int column) const override {
        if (PQgetisnull(m_result, m_row, column))
            return {};
        return QString::fromUtf8(PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column));
    }
    qint64 number(int column) const override {
        return std::strtoll(PQgetvalue(m_result, m_row, column), nullptr, 10);
    }

private:
    const PGresult* m_result;
    int m_row;
};

// One libpq connection and the statements already prepared on it (a reconnect forgets them).
class PostgresConnection final : public SqlConnection {
public:
    explicit PostgresConnection(PGconn* conn) : m_conn(conn) {}
    ~PostgresConnection() override { PQfinish(m_conn); }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    bool isOpen() const override { return PQstatus(m_conn) == CONNECTION_OK; }
    bool reopen(QString* error) override {
        PQreset(m_conn);
        m_prepared.clear();
        if (PQstatus(m_conn) != CONNECTION_OK) {
            *error = firstLine(m_conn);
            return false;
        }
        PQsetClientEncoding(m_conn, "UTF8");
        return true;
    }

    SqlOutcome run(const SqlStatement& statement, std::span<const SqlValue> values,
                   const SqlRowSink& onRow) override {
        std::vector<QByteArray> numbers;
        numbers.reserve(values.size());
        std::vector<const char*> params;
        params.reserve(values.size());
        for (const SqlValue& v : values) {
            if (v.kind() == SqlValue::Kind::Number)
                numbers.push_back(QByteArray::number(v.number()));
            params.push_back(v.kind() == SqlValue::Kind::Text     ? v.text().constData()
                             : v.kind() == SqlValue::Kind::Number ? numbers.back().constData()
                                                                  : nullptr);
        }
        if (!m_prepared.count(&statement)) {
            const Result prepared(PQprepare(m_conn, statement.name, postgresText(statement).constData(),
                                            int(params.size()), nullptr),
                                  &PQclear);
            if (!succeeded(prepared))
                return failure(prepared);
            m_prepared.insert(&statement);
        }
        const Result r(
            PQexecPrepared(m_conn, statement.name, int(params.size()), params.data(), nullptr, nullptr, 0),
            &PQclear);
        if (!succeeded(r))
            return failure(r);
        SqlOutcome outcome;
        outcome.status = SqlOutcome::Status::Done;
        outcome.changed = std::atoll(PQcmdTuples(r.get()));
        outcome.rows = PQntuples(r.get());
        if (statement.uniqueKey && outcome.changed == 0)
            outcome.status = SqlOutcome::Status::Duplicate;
        if (onRow)
            for (int row = 0; row < outcome.rows; ++row)
                onRow(PostgresRow(r.get(), row));
        return outcome;
    }

private:
    // The server closed the connection (a restart, an administrator's terminate): it shows on
    // the next statement, which the pool then sends once more on a fresh connection.
    SqlOutcome failure(const Result& r) const {
        const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
        const QByteArray sqlState(state ? state : "");
        const bool lost = !isOpen() || sqlState.startsWith("08") || sqlState.startsWith("57P0");
        SqlOutcome outcome;
        outcome.status = lost ? SqlOutcome::Status::Lost : SqlOutcome::Status::Failed;
        outcome.error = firstLine(m_conn);
        return outcome;
    }

    PGconn* m_conn;
    std::unordered_set<const SqlStatement*> m_prepared;
};

} // namespace

std::unique_ptr<Database> PostgresDatabase::open(const QString& url, QString* error, int connections) {
    const QByteArray encoded = url.toUtf8();
    std::vector<std::unique_ptr<SqlConnection>> pool;
    for (int i = 0; i < qMax(1, connections); ++i) {
        PGconn* conn = connect(encoded, error);
        if (!conn)
            return nullptr;
        pool.push_back(std::make_unique<PostgresConnection>(conn));
        if (i == 0 && !migrate(conn, error))
            return nullptr;
    }
    return std::unique_ptr<Database>(new PostgresDatabase(std::move(pool)));
}

PostgresDatabase::PostgresDatabase(std::vector<std::unique_ptr<SqlConnection>> connections)
    : SqlDatabase(std::move(connections), [](const SqlStatement& statement, const QString& error) {
          logLine(QStringLiteral("PostgreSQL: %1: %2").arg(QLatin1String(statement.name), error));
      }) {}

std::optional<int> PostgresDatabase::takeRate(const QString& key, int limit,
                                              std::chrono::milliseconds window) {
    if (m_rateCalls.fetch_add(1, std::memory_order_relaxed) % kForgetEvery == kForgetEvery - 1)
        m_pool.run(kForgetRates);
    std::optional<qint64> count;
    qint64 leftMs = 0;
    m_pool.run(kTakeRate, {key, qint64(window.count()), qint64(limit)}, [&](const SqlRow& row) {
        count = row.number(0);
        leftMs = row.number(1);
    });
    if (!count || *count <= limit)
        return std::nullopt;
    return int(qMax<qint64>(1, (leftMs + 999) / 1000));
}

std::optional<QString> PostgresDatabase::valueOrPut(const QString& name, const QString& proposed) {
    if (!m_pool.run(kPutSetting, {name, proposed}).ok())
        return std::nullopt;
    std::optional<QString> value;
    m_pool.run(kSetting, {name}, [&value](const SqlRow& row) { value = row.text(0); });
    return value;
}
