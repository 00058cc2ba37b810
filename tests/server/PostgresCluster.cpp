#include "PostgresCluster.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <libpq-fe.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

// initdb on the PATH, else the newest of Debian's versioned folders.
QString findBinFolder() {
    const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    if (!initdb.isEmpty())
        return QFileInfo(QFileInfo(initdb).canonicalFilePath()).absolutePath();
    QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        const QString bin = "/usr/lib/postgresql/" + v + "/bin";
        if (QFileInfo(bin + "/initdb").isExecutable())
            return bin;
    }
    return {};
}

} // namespace

// Plain system() rather than QProcess: the cluster is also stopped from a static destructor,
// after the application object is gone.
bool PostgresCluster::run(const QString& command) const {
    const QString line =
        QStringLiteral("%1%2 >'%3/command.log' 2>&1")
            .arg(m_asPostgres ? "setpriv --reuid=postgres --regid=postgres --init-groups " : "", command,
                 m_folder);
    return std::system(line.toLocal8Bit().constData()) == 0;
}

QString PostgresCluster::sharedStateFile(const QString& binaryDir) {
    return binaryDir + "/tests/server/postgres-cluster.state";
}

std::unique_ptr<PostgresCluster> PostgresCluster::create(QString* reason) {
    std::unique_ptr<PostgresCluster> c(new PostgresCluster);
    c->m_bin = findBinFolder();
    if (c->m_bin.isEmpty()) {
        *reason = "no PostgreSQL server programs (initdb) on the PATH or in /usr/lib/postgresql";
        return nullptr;
    }
    const passwd* account = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
    if (::geteuid() == 0 && !account) {
        *reason = "running as root, and there is no 'postgres' account to run PostgreSQL as";
        return nullptr;
    }
    c->m_asPostgres = account != nullptr;
    // Under /tmp, not the test's private HOME: the postgres account must be able to reach it.
    char pattern[] = "/tmp/vantry-pg-XXXXXX";
    if (!::mkdtemp(pattern) || (account && ::chown(pattern, account->pw_uid, account->pw_gid) != 0)) {
        *reason = "cannot make a folder for the cluster under /tmp";
        return nullptr;
    }
    c->m_folder = QString::fromLocal8Bit(pattern);
    c->m_port = testsupport::freePort();
    if (!c->run(QStringLiteral("'%1/initdb' -D '%2/data' -A trust -U vantry -E UTF8 --locale=C --no-sync")
                    .arg(c->m_bin, c->m_folder)) ||
        !c->start()) {
        *reason = "the throwaway PostgreSQL did not start: " +
                  QString::fromLocal8Bit(testsupport::readFile(c->m_folder + "/command.log")).right(400) +
                  QString::fromLocal8Bit(testsupport::readFile(c->m_folder + "/server.log")).right(400);
        return nullptr;
    }
    return c;
}

std::unique_ptr<PostgresCluster> PostgresCluster::adopt(const QString& stateFile) {
    const QStringList fields =
        QString::fromLocal8Bit(testsupport::readFile(stateFile)).split(QLatin1Char('\n'));
    if (fields.size() < 3)
        return nullptr;
    std::unique_ptr<PostgresCluster> c(new PostgresCluster);
    c->m_port = fields[0].toInt();
    c->m_folder = fields[1];
    c->m_bin = fields[2];
    c->m_asPostgres = ::geteuid() == 0;
    c->m_owned = false;
    // A state file left by a run that was cut short names a server that is gone.
    const QByteArray url =
        QStringLiteral("postgresql://vantry@127.0.0.1:%1/postgres?connect_timeout=5").arg(c->m_port).toUtf8();
    PGconn* conn = PQconnectdb(url.constData());
    const bool answers = PQstatus(conn) == CONNECTION_OK;
    PQfinish(conn);
    return answers ? std::move(c) : nullptr;
}

bool PostgresCluster::writeState(const QString& stateFile) const {
    QFile f(stateFile);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(QStringLiteral("%1\n%2\n%3\n").arg(m_port).arg(m_folder, m_bin).toLocal8Bit()) > 0;
}

bool PostgresCluster::start() {
    // Durability is worth nothing in a cluster that is deleted at the end.
    return run(
        QStringLiteral("'%1/pg_ctl' -D '%2/data' -l '%2/server.log' -w start -o '-k %2 -h 127.0.0.1 "
                       "-p %3 -F -c full_page_writes=off -c synchronous_commit=off -c max_connections=200'")
            .arg(m_bin, m_folder)
            .arg(m_port));
}

bool PostgresCluster::stop(bool keepData) {
    // An immediate stop is a crash: it loses what synchronous_commit=off has not yet written.
    return run(QStringLiteral("'%1/pg_ctl' -D '%2/data' -m %3 -w stop")
                   .arg(m_bin, m_folder, keepData ? "fast" : "immediate"));
}

PostgresCluster::~PostgresCluster() {
    if (m_owned)
        removeAll();
}

void PostgresCluster::removeAll() {
    m_owned = false;
    if (!m_folder.startsWith(QLatin1String("/tmp/vantry-pg-")))
        return;
    stop(false);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder.toStdString(), ignored);
}

QString PostgresCluster::createDatabase() {
    // Unique across the test programs that share the cluster.
    static int made = 0;
    const QString name = QStringLiteral("test_%1_%2").arg(::getpid()).arg(++made);
    const QByteArray admin = QStringLiteral("postgresql://vantry@127.0.0.1:%1/postgres").arg(m_port).toUtf8();
    PGconn* conn = PQconnectdb(admin.constData());
    // Copying the template's files is quicker than logging them (the default from version 15 on).
    const auto create = [&](const QByteArray& options) {
        PGresult* r = PQexec(conn, ("CREATE DATABASE " + name.toUtf8() + options).constData());
        const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return done;
    };
    const bool ok = create(" STRATEGY FILE_COPY") || create(QByteArray());
    PQfinish(conn);
    return ok ? QStringLiteral("postgresql://vantry@127.0.0.1:%1/%2").arg(m_port).arg(name) : QString();
}
