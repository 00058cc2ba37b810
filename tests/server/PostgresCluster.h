#pragma once

#include "server/Database.h"
#include "support/TestSupport.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

// A throwaway PostgreSQL server for the tests that run against PostgreSQL as well as SQLite:
// initdb makes a cluster in a fresh folder under /tmp, pg_ctl starts it on a free loopback port
// (its socket in that folder too), and it is stopped and removed at the end. Nothing of a
// PostgreSQL the machine may already run is touched.
//
// Under CTest one cluster serves the whole run: a set-up test starts it and leaves its
// description in a state file of the build folder, a clean-up test removes it, and every test
// makes a database of its own on it. A test program run by hand starts a cluster of its own.
//
// PostgreSQL refuses to run as root, and tests often do (containers, CI). Then every
// PostgreSQL program is started as the "postgres" account that Debian's package creates (through
// util-linux's setpriv), and the folder is handed to that account.
class PostgresCluster {
public:
    // The cluster this test program uses: the run's shared one, else one started at the first
    // call. Null when PostgreSQL cannot be started here; *reason then says why (for GTEST_SKIP).
    static PostgresCluster* instance(QString* reason);
    // A cluster for this caller alone (a test that stops the server under its clients).
    static std::unique_ptr<PostgresCluster> create(QString* reason);
    // The cluster a state file describes, when it answers; it is left running when dropped.
    static std::unique_ptr<PostgresCluster> adopt(const QString& stateFile);
    // The state file under the build folder that the set-up test writes.
    static QString sharedStateFile(const QString& binaryDir);
    ~PostgresCluster();

    // A new empty database; its postgresql:// URL (empty on failure).
    QString createDatabase();
    bool stop(bool keepData = true); // an immediate stop loses what was not written yet
    bool start();
    bool writeState(const QString& stateFile) const;
    // Leave the server running when this object goes (the set-up test's cluster).
    void release() { m_owned = false; }
    // Stop the server and delete its folder now.
    void removeAll();

private:
    PostgresCluster() = default;
    bool run(const QString& command) const; // a shell command, its output in command.log

    QString m_bin;    // folder of initdb, pg_ctl and postgres
    QString m_folder; // data/, the socket, the logs
    int m_port = 0;
    bool m_asPostgres = false;
    bool m_owned = true;
};

inline PostgresCluster* PostgresCluster::instance(QString* reason) {
    static std::unique_ptr<PostgresCluster> cluster;
    static QString failure;
    if (!cluster && failure.isEmpty()) {
        cluster = adopt(sharedStateFile(testsupport::binaryDir()));
        if (!cluster)
            cluster = create(&failure);
    }
    *reason = failure;
    return cluster.get();
}

enum class TestEngine { Sqlite, Postgres };

// The database URL a test runs against: a fresh SQLite file, or a fresh database on the
// throwaway PostgreSQL server. Empty with *skipReason when that engine is not available here.
inline QString testDatabaseUrl(TestEngine engine, QString* skipReason) {
    if (engine == TestEngine::Sqlite)
        return "sqlite:" + testsupport::makeTempDir("db") + "/vantry.sqlite3";
    PostgresCluster* cluster = PostgresCluster::instance(skipReason);
    if (!cluster)
        return {};
    const QString url = cluster->createDatabase();
    if (url.isEmpty())
        *skipReason = QStringLiteral("the throwaway PostgreSQL did not make a database");
    return url;
}

// A test run on SQLite and on PostgreSQL (ON_BOTH_ENGINES): url is a fresh database of the engine,
// and the test skips where that engine is not available.
class EngineTest : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        QString reason;
        url = testDatabaseUrl(GetParam(), &reason);
        if (url.isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }
    QString url;
};
// An EngineTest with the database open (db) on `connections` pooled connections.
class EngineDatabaseTest : public EngineTest {
protected:
    explicit EngineDatabaseTest(int connections = 4) : m_connections(connections) {}
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        QString error;
        db = Database::open(url, &error, m_connections);
        ASSERT_TRUE(db) << error.toStdString();
    }
    std::unique_ptr<Database> db;

private:
    int m_connections;
};
#define ON_BOTH_ENGINES(Suite)                                                                               \
    INSTANTIATE_TEST_SUITE_P(                                                                                \
        Engines, Suite, ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),                         \
        [](const auto& info) { return info.param == TestEngine::Sqlite ? "Sqlite" : "Postgres"; })
