// The service: the binary's options, and an in-process instance (the data folder's modes, health
// on a full disk).
#include "ServerTestUtil.h"

#include <QFile>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

TEST(ServiceProcessTest, BadOptionsExitWithStatus2) {
    for (const QStringList& args :
         {QStringList{"--listen", "nohost"}, QStringList{"--latest-version", "1.10"},
          QStringList{"--public-url", "ftp://x/"}, QStringList{"--owner-id", "a b"},
          QStringList{"--database", "mysql://u:pw@h/db"}, QStringList{"--database", "sqlite:"},
          QStringList{"--bogus"}, QStringList{"reset-secret"}, QStringList{"reset-secret", "a b"},
          QStringList{"reset-secret", "a", "b"}, QStringList{"--apps-per-minute", "-1"},
          QStringList{"--webhook", "javascript:alert(1)"}, QStringList{"--webhook", "ftp://x/hook"},
          QStringList{"--webhook", "http:///nohost"}, QStringList{"--webhook-secret", "s"}}) {
        QProcess p;
        p.start(ServerProcess::program(), args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
        const QByteArray error = p.readAllStandardError();
        EXPECT_EQ(error.count('\n'), 1);
        EXPECT_FALSE(error.contains(":pw@")) << "a password is never shown";
    }
}

// What the data folder holds is the service's alone, also when an earlier server left it open.
TEST(ServiceTest, DataFilesAreTheServiceAccountsAlone) {
    const QString parent = testsupport::makeTempDir("modes");
    const QString earlier = parent + "/earlier";
    testsupport::writeFile(earlier + "/vantry.sqlite3", {});
    ASSERT_EQ(::chmod(QFile::encodeName(earlier).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(earlier + "/vantry.sqlite3").constData(), 0644), 0);
    for (const QString& dir : {parent + "/new/data", earlier}) {
        SCOPED_TRACE(dir.toStdString());
        auto instance = startServer({.dataDir = dir});
        ASSERT_TRUE(instance);
        EXPECT_EQ(modeOf(dir), 0700);
        for (const char* name :
             {"vantry.sqlite3", "vantry.sqlite3-wal", "vantry.sqlite3-shm", "storage-token"})
            EXPECT_EQ(modeOf(dir + '/' + name), 0600) << name;
    }
}

// A full disk leaves reads and stat() working; the health check writes to find out. Here no
// file may grow at all while it asks (the signal that would stop the process is ignored).
TEST(ServiceTest, HealthReportsStorageThatTakesNoWrites) {
    auto server = startServer();
    ASSERT_TRUE(server);
    httplib::Client c("127.0.0.1", server->port());
    ASSERT_EQ(status(c.Get("/healthz")), 200);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = limit;
    full.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const auto answer = c.Get("/healthz");
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    ASSERT_EQ(status(answer), 503);
    EXPECT_EQ(answer->body,
              "{\"status\":\"unavailable\",\"database\":\"unwritable\",\"storage\":\"unwritable\"}\n");
    EXPECT_EQ(status(c.Get("/healthz")), 200);
}

} // namespace
