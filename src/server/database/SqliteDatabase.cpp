#include "server/database/SqliteDatabase.h"

#include "server/PrivateFiles.h"
#include "server/database/Schema.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace {

constexpr int kBusyTimeoutMs = 10000;

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
    sqlite3_stmt* stmt = nullptr;
    std::optional<qint64> value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
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

class SqliteRow final : public SqlRow {
public:
    explicit SqliteRow(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    QString text(int column) const override {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }
    qint64 number(int column) const override { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt;
};

// One connection and the statements prepared on it, kept for its life.
class SqliteConnection final : public SqlConnection {
public:
    SqliteConnection(sqlite3* db, std::shared_ptr<std::mutex> writes)
        : m_db(db), m_writes(std::move(writes)) {}
    ~SqliteConnection() override {
        for (const auto& [statement, stmt] : m_prepared)
            sqlite3_finalize(stmt);
        sqlite3_close(m_db);
    }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    SqlOutcome run(const SqlStatement& statement, std::span<const SqlValue> values,
                   const SqlRowSink& onRow) override {
        SqlOutcome outcome;
        sqlite3_stmt* stmt = prepared(statement, &outcome.error);
        if (!stmt)
            return outcome;
        for (int i = 0; i < int(values.size()); ++i) {
            const SqlValue& v = values[size_t(i)];
            if (v.kind() == SqlValue::Kind::Text)
                sqlite3_bind_text(stmt, i + 1, v.text().constData(), int(v.text().size()), SQLITE_STATIC);
            else if (v.kind() == SqlValue::Kind::Number)
                sqlite3_bind_int64(stmt, i + 1, v.number());
        }
        {
            // Writers take turns here rather than in SQLite's busy handler, which sleeps in steps
            // of up to 100 ms when several threads want the write lock.
            std::unique_lock<std::mutex> writer;
            if (!sqlite3_stmt_readonly(stmt))
                writer = std::unique_lock(*m_writes);
            const SqliteRow row(stmt);
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                ++outcome.rows;
                if (onRow)
                    onRow(row);
            }
            const int code = sqlite3_extended_errcode(m_db);
            if (rc == SQLITE_DONE) {
                outcome.status = SqlOutcome::Status::Done;
                outcome.changed = sqlite3_changes(m_db);
            } else if (statement.uniqueKey &&
                       (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)) {
                outcome.status = SqlOutcome::Status::Duplicate;
            } else {
                outcome.error = QString::fromUtf8(sqlite3_errmsg(m_db));
            }
            sqlite3_reset(stmt);
        }
        sqlite3_clear_bindings(stmt);
        return outcome;
    }

private:
    sqlite3_stmt* prepared(const SqlStatement& statement, QString* error) {
        sqlite3_stmt*& stmt = m_prepared[&statement];
        if (!stmt && sqlite3_prepare_v3(m_db, statement.sql.c_str(), int(statement.sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_db));
            m_prepared.erase(&statement);
            return nullptr;
        }
        return stmt;
    }

    sqlite3* m_db;
    std::shared_ptr<std::mutex> m_writes;
    std::unordered_map<const SqlStatement*, sqlite3_stmt*> m_prepared;
};

} // namespace

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
    const auto writes = std::make_shared<std::mutex>();
    std::vector<std::unique_ptr<SqlConnection>> pool;
    for (int i = 0; i < qMax(1, connections); ++i) {
        sqlite3* db = openConnection(path, error);
        if (!db)
            return nullptr;
        pool.push_back(std::make_unique<SqliteConnection>(db, writes));
        if (i == 0) {
            // WAL lets readers run while one writer commits.
            if (!exec(db, "PRAGMA journal_mode=WAL;", error) || !exec(db, "BEGIN IMMEDIATE;", error))
                return nullptr;
            if (!migrate(db, error)) {
                exec(db, "ROLLBACK;", &ignored);
                return nullptr;
            }
            if (!exec(db, "COMMIT;", error))
                return nullptr;
        }
        // NORMAL sync is durable across process crashes, which is what a restart must survive.
        // It is a setting of each connection: left out on one, every commit there waits for
        // the disk.
        exec(db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", &ignored);
    }
    return std::unique_ptr<Database>(new SqliteDatabase(std::move(pool)));
}
