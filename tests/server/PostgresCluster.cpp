#include "PostgresCluster.h"

#include <QDir>
#include <QFileInfo>

#include <libpq-fe.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

// initdb on the PATH, else the newest of Debian's versioned folders.
QString findBinFolder() {
    for (const QString& dir : qEnvironmentVariable("PATH").split(':', Qt::SkipEmptyParts)) {
        const QFileInfo initdb(dir + "/initdb");
        if (initdb.isExecutable())
            return QFileInfo(initdb.canonicalFilePath()).absolutePath();
    }
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

// Plain fork and exec rather than QProcess: the cluster is also stopped from a static
// destructor, after the application object is gone.
bool PostgresCluster::run(const QStringList& arguments, QString* output) const {
    const QString logPath = m_folder + "/command.log";
    std::vector<std::string> args;
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string log = logPath.toStdString();
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        if (m_dropPrivileges &&
            (::setgroups(0, nullptr) != 0 || ::setgid(m_gid) != 0 || ::setuid(m_uid) != 0))
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = QString::fromLocal8Bit(testsupport::readFile(logPath));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    if (::geteuid() == 0) {
        const passwd* account = ::getpwnam("postgres");
        if (!account) {
            *reason = "running as root, and there is no 'postgres' account to run PostgreSQL as";
            return nullptr;
        }
        c->m_dropPrivileges = true;
        c->m_uid = account->pw_uid;
        c->m_gid = account->pw_gid;
    }
    // Under /tmp, not the test's private HOME: the postgres account must be able to reach it.
    char pattern[] = "/tmp/vantry-pg-XXXXXX";
    if (!::mkdtemp(pattern)) {
        *reason = "cannot make a folder for the cluster";
        return nullptr;
    }
    c->m_folder = QString::fromLocal8Bit(pattern);
    if (c->m_dropPrivileges && ::chown(pattern, c->m_uid, c->m_gid) != 0) {
        *reason = QStringLiteral("cannot hand %1 to the postgres account").arg(c->m_folder);
        return nullptr;
    }
    c->m_port = testsupport::freePort();
    QString output;
    if (!c->run({c->m_bin + "/initdb", "-D", c->m_folder + "/data", "-A", "trust", "-U", "vantry", "-E",
                 "UTF8", "--locale=C", "--no-sync"},
                &output) ||
        !c->start()) {
        *reason = "the throwaway PostgreSQL did not start: " + output.right(400) +
                  QString::fromLocal8Bit(testsupport::readFile(c->m_folder + "/server.log")).right(400);
        return nullptr;
    }
    return c;
}

std::unique_ptr<PostgresCluster> PostgresCluster::adopt(const QString& stateFile) {
    const QStringList fields =
        QString::fromLocal8Bit(testsupport::readFile(stateFile)).split(QLatin1Char('\n'));
    if (fields.size() < 5)
        return nullptr;
    std::unique_ptr<PostgresCluster> c(new PostgresCluster);
    c->m_port = fields[0].toInt();
    c->m_folder = fields[1];
    c->m_bin = fields[2];
    c->m_uid = fields[3].toUInt();
    c->m_gid = fields[4].toUInt();
    c->m_dropPrivileges = ::geteuid() == 0;
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
           f.write(QStringLiteral("%1\n%2\n%3\n%4\n%5\n")
                       .arg(m_port)
                       .arg(m_folder, m_bin)
                       .arg(m_uid)
                       .arg(m_gid)
                       .toLocal8Bit()) > 0;
}

bool PostgresCluster::start() {
    // Durability is worth nothing in a cluster that is deleted at the end.
    const QString settings = QStringLiteral("-k %1 -h 127.0.0.1 -p %2 -F -c full_page_writes=off "
                                            "-c synchronous_commit=off -c max_connections=200")
                                 .arg(m_folder)
                                 .arg(m_port);
    return run({m_bin + "/pg_ctl", "-D", m_folder + "/data", "-l", m_folder + "/server.log", "-o", settings,
                "-w", "start"});
}

bool PostgresCluster::stop(bool keepData) {
    // An immediate stop is a crash: it loses what synchronous_commit=off has not yet written.
    return run(
        {m_bin + "/pg_ctl", "-D", m_folder + "/data", "-m", keepData ? "fast" : "immediate", "-w", "stop"});
}

PostgresCluster::~PostgresCluster() {
    if (m_owned)
        removeAll();
}

void PostgresCluster::removeAll() {
    stop(false);
    std::error_code ignored;
    if (m_folder.startsWith(QLatin1String("/tmp/vantry-pg-")))
        std::filesystem::remove_all(m_folder.toStdString(), ignored);
    m_owned = false;
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
