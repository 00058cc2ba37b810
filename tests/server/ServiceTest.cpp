// The service over real sockets: the running binary (restart, signals, log) and an in-process
// instance (transport limits, concurrency).
#include "PostgresCluster.h"
#include "RawSocket.h"
#include "ServerTestUtil.h"
#include "server/Database.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QJsonArray appsOf(httplib::Client& client, const QString& owner) {
    return listOf(client.Get("/app/" + owner.toStdString(), {{"Authorization", owner.toStdString()}}));
}

TEST(ServiceProcessTest, RecordsSurviveRestartAndShutdownIsClean) {
    const QString data = testsupport::makeTempDir("restart");
    const QString owner = "dbid:AAH-owner";
    std::string secret;
    {
        ServerProcess server(data);
        ASSERT_TRUE(server.waitReady()) << server.output().constData();
        httplib::Client client = server.client();
        ASSERT_FALSE((secret = signUp(client, owner)).empty());
        client.set_default_headers({{"X-Vantry-Secret", secret}});
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(postApp(client, owner, QStringLiteral("app%1").arg(i)), 201);
        EXPECT_EQ(server.terminate(), 0);
        const QByteArray log = server.output();
        EXPECT_TRUE(log.contains("POST /createapp 201 ")) << log.constData();
        EXPECT_FALSE(log.contains("AAH-owner")) << "neither bodies nor user ids are logged";
        EXPECT_TRUE(log.contains("vantry-server stopped"));
    }
    ServerProcess again(data);
    ASSERT_TRUE(again.waitReady()) << again.output().constData();
    httplib::Client client = again.client();
    client.set_default_headers({{"X-Vantry-Secret", secret}});
    const QJsonArray apps = appsOf(client, owner);
    ASSERT_EQ(apps.size(), 20);
    EXPECT_EQ(apps.at(0).toObject().value("appid").toString(), "app0");
    EXPECT_EQ(apps.at(19).toObject().value("appid").toString(), "app19");
    EXPECT_EQ(postApp(client, owner, "app0"), 409);

    // The operator resets the lost secret beside the running server: the next registration gets
    // a new one, which works at once; the old one no longer does.
    const auto resetSecret = [&data](const QString& user) {
        return QProcess::execute(ServerProcess::program(), {"reset-secret", user, "--data-dir", data});
    };
    EXPECT_EQ(resetSecret("dbid:AAH-nobody"), 1);
    ASSERT_EQ(resetSecret(owner), 0);
    const std::string newSecret = signUp(client, owner);
    ASSERT_FALSE(newSecret.empty());
    EXPECT_EQ(appsOf(client, owner).size(), 0) << "the old secret is refused";
    client.set_default_headers({{"X-Vantry-Secret", newSecret}});
    EXPECT_EQ(appsOf(client, owner).size(), 20);
    EXPECT_EQ(again.terminate(), 0);
    EXPECT_FALSE(again.output().contains("AAH-owner")) << again.output().constData();
    EXPECT_TRUE(again.output().contains("GET /app/:userid 200 ")) << again.output().constData();
}

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

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server = startServer()); }
    httplib::Client client() const { return httplib::Client("127.0.0.1", server->port()); }
    std::unique_ptr<VantryServer> server;
};

TEST_F(ServiceTest, GetWithBodyKeepsTheConnectionInStep) {
    // The desktop client sends a JSON body with its GETs: it is read and dropped, so the next
    // request on the same connection is answered as itself.
    RawSocket socket(server->port());
    const QByteArray request = "GET /checkversion HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                               "Content-Length: 22\r\n\r\n{\"padding\":\"xxxxxxxx\"}";
    socket.send(request + request);
    const QByteArray answer = socket.receive(5000, nullptr, "\"version\":1}}", 2);
    EXPECT_EQ(answer.count("HTTP/1.1 200"), 2) << answer.constData();
    EXPECT_FALSE(answer.toLower().contains("connection: close")) << answer.constData();
}

// What the data folder holds is the service's alone, also when an earlier server left it open.
TEST_F(ServiceTest, DataFilesAreTheServiceAccountsAlone) {
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
TEST_F(ServiceTest, HealthReportsStorageThatTakesNoWrites) {
    httplib::Client c = client();
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

class ServiceOnEngine : public EngineTest {};

TEST_P(ServiceOnEngine, ConcurrentCreateAppLosesNothing) {
    auto server = startServer({.database = url, .appsPerMinute = 0}); // every request from one address
    ASSERT_TRUE(server);
    const auto client = [&server] { return httplib::Client("127.0.0.1", server->port()); };
    constexpr int kClients = 6;
    constexpr int kApps = 25;
    std::string secrets[2];
    for (int u = 0; u < 2; ++u) {
        httplib::Client c = client();
        ASSERT_FALSE((secrets[u] = signUp(c, QStringLiteral("user%1").arg(u))).empty());
    }
    std::atomic<int> created{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kClients; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client c = client();
            for (int i = 0; i < kApps; ++i)
                if (postApp(c, QStringLiteral("user%1").arg(t % 2), QStringLiteral("t%1-%2").arg(t).arg(i),
                            {}, secrets[t % 2]) == 201)
                    ++created;
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(created.load(), kClients * kApps);
    qsizetype listed = 0;
    for (int u = 0; u < 2; ++u) {
        httplib::Client c = client();
        c.set_default_headers({{"X-Vantry-Secret", secrets[u]}});
        listed += appsOf(c, QStringLiteral("user%1").arg(u)).size();
    }
    EXPECT_EQ(listed, kClients * kApps);
}

ON_BOTH_ENGINES(ServiceOnEngine);

} // namespace
