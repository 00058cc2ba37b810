// Running the server as a service: its options and settings file, the data folder's modes and what
// killed uploads left in it, health on a full disk, the stop on SIGTERM, and a backup taken while it
// serves.
#include "RawSocket.h"
#include "ServerTestUtil.h"
#include "server/Database.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace {

QString writeConfig(const QString& dir, const QByteArray& text, int mode) {
    const QString path = dir + "/server.conf";
    testsupport::writeFile(path, text);
    ::chmod(path.toLocal8Bit().constData(), mode);
    return path;
}

TEST(ServerOptionsTest, ConfigFileSettingsLieUnderTheCommandLine) {
    const QString dir = testsupport::makeTempDir("config");
    const QString config = writeConfig(dir,
                                       "# the team server\n\n listen = 127.0.0.1:9001 \nthreads=3\n"
                                       "access-key = 0123456789abcdef-key\nwebhook = http://a.test/h\n"
                                       "webhook = http://b.test/h\napps-per-minute = 7\n",
                                       0640);
    std::optional<ServerOptions> o =
        parseOptions({"--config", config, "--threads", "5", "--webhook", "http://c.test/"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->port, 9001);
    EXPECT_EQ(o->threads, 5) << "the command line wins";
    EXPECT_EQ(o->accessKey, "0123456789abcdef-key");
    EXPECT_EQ(o->webhooks, QStringList{"http://c.test/"})
        << "a repeatable option given there replaces the list";
    EXPECT_EQ(o->appsPerMinute, 7);

    // Refused: secrets in a file every account reads, and what would be refused on the command line.
    const QList<std::pair<QByteArray, int>> refused{
        {"access-key = 0123456789abcdef-key\n", 0644},
        {"database = postgresql://vantry:pw@127.0.0.1/vantry\n", 0604},
        {"storage = s3://b\ns3-secret-key = s\ns3-access-key = k\n", 0644},
        {"listen = 127.0.0.1:1\nlisten = 127.0.0.1:2\n", 0600},
        {"bogus = 1\n", 0600},
        {"listen\n", 0600},
        {"threads = 0\n", 0600},
        {"help = 1\n", 0600},
    };
    for (const auto& [text, mode] : refused) {
        QString error;
        EXPECT_FALSE(parseOptions({"--config", writeConfig(dir, text, mode)}, &error)) << text.constData();
        EXPECT_FALSE(error.contains("pw") || error.contains("abcdef")) << error.toStdString();
    }
    EXPECT_TRUE(parseOptions(
        {"--config", writeConfig(dir, "database = postgresql://vantry@127.0.0.1/vantry\n", 0644)}))
        << "no password, no secret";
    EXPECT_FALSE(parseOptions({"--config", dir + "/missing.conf"}));
    EXPECT_FALSE(parseOptions({"--to", dir}));
    EXPECT_FALSE(parseOptions({"backup"}));
    EXPECT_TRUE(parseOptions({"backup", "--to", dir}).value_or(ServerOptions{}).backup);
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

// What the data folder holds is the service's alone, also when an earlier server left it open;
// part files of uploads it was killed in go at the start.
TEST(ServiceTest, DataFilesAreTheServiceAccountsAlone) {
    const QString parent = testsupport::makeTempDir("modes");
    const QString earlier = parent + "/earlier";
    testsupport::writeFile(earlier + "/vantry.sqlite3", {});
    testsupport::writeFile(earlier + "/files/Vantry/job/.upload-0123456789abcdef.part",
                           QByteArray(4096, 'p'));
    testsupport::writeFile(earlier + "/files/Vantry/job/App.ipa", "kept");
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
    EXPECT_EQ(QDir(earlier + "/files/Vantry/job").entryList(QDir::Files | QDir::Hidden),
              QStringList{"App.ipa"});
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

// A slow upload in flight when SIGTERM arrives still completes (it has 10 s), new connections are
// refused meanwhile, and the process exits 0; SIGHUP before it leaves the server running.
TEST(ServiceProcessTest, SigtermLetsAnUploadInFlightFinish) {
    const QString data = testsupport::makeTempDir("stop");
    ServerProcess server(data);
    ASSERT_TRUE(server.waitReady()) << server.output().constData();
    const QByteArray token = testsupport::readFile(data + "/storage-token").trimmed();
    const QByteArray body = QByteArray::fromStdString(pattern(7 * 64 * 1024));
    RawSocket upload(server.port());
    ASSERT_TRUE(upload.connected());
    upload.send("PUT /storage/files?path=Vantry/slow/App.ipa HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                token + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
    upload.send(body.left(64 * 1024));
    // In flight once its file is begun.
    ASSERT_TRUE(testsupport::waitUntil([&] { return !partFiles(data + "/files/Vantry/slow").isEmpty(); }));
    ::kill(pid_t(server.pid()), SIGHUP);
    ASSERT_TRUE(server.waitForOutput("SIGHUP")) << server.output().constData();
    ::kill(pid_t(server.pid()), SIGTERM);
    ASSERT_TRUE(server.waitForOutput("stopping (SIGTERM)")) << server.output().constData();
    // A slow client: its last piece comes 5.4 s after SIGTERM, past the 5 s an earlier server allowed.
    for (int piece = 1; piece < 7; ++piece) {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        upload.send(body.mid(piece * 64 * 1024, 64 * 1024));
    }
    EXPECT_FALSE(RawSocket(server.port()).connected()) << "accepting stopped";
    const QByteArray answer = upload.receive(10000, nullptr, "\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 201")) << answer.constData() << server.output().constData();
    EXPECT_EQ(server.terminate(), 0);
    EXPECT_EQ(testsupport::readFile(data + "/files/Vantry/slow/App.ipa"), body);
}

// Every record and file acknowledged before the backup started is in it; every file in it is a
// whole, committed one; a server started on it serves them.
TEST(BackupTest, TakenDuringABurstRestoresEveryAcknowledgedRecordAndFile) {
    ServerOptions options{.dataDir = testsupport::makeTempDir("live"), .appsPerMinute = 0};
    std::unique_ptr<VantryServer> server = startServer(options);
    ASSERT_TRUE(server);
    const std::string token = server->storageToken().toStdString();
    using Clock = std::chrono::steady_clock;
    struct Acked {
        QString id;       // an app id, or a stored file's path
        QByteArray bytes; // a file's; empty for an app
        Clock::time_point at;
    };
    std::mutex mutex;
    std::vector<Acked> acked;
    std::atomic<bool> done{false};
    std::vector<std::thread> burst;
    for (int t = 0; t < 4; ++t)
        burst.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", server->port());
            const QString owner = QStringLiteral("user%1").arg(t);
            const std::string secret = signUp(client, owner);
            for (int i = 0; i < 300 && !done; ++i) {
                const QString id = QStringLiteral("a%1x%2").arg(t).arg(i);
                const QByteArray bytes = QByteArray(4096 + i * 97, char('a' + i % 26)) + id.toUtf8();
                const QString path = QStringLiteral("Vantry/job%1/%2.ipa").arg(t).arg(i);
                const bool app = postApp(client, owner, id, {}, secret) == 201;
                const bool file = status(client.Put(("/storage/files?path=" + path).toStdString(),
                                                    {{"Authorization", "Bearer " + token}},
                                                    bytes.toStdString(), "application/octet-stream")) == 201;
                std::lock_guard lock(mutex);
                if (app)
                    acked.push_back({id, {}, Clock::now()});
                if (file)
                    acked.push_back({path, bytes, Clock::now()});
            }
        });
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard lock(mutex);
        return acked.size() >= 80;
    }));
    // An upload that has begun and waits for the rest of its body is not copied.
    auto stalled = std::make_unique<RawSocket>(server->port());
    stalled->send(
        QByteArray("PUT /storage/files?path=Vantry/stalled/App.ipa HTTP/1.1\r\nHost: x\r\nAuthorization: "
                   "Bearer ") +
        QByteArray::fromStdString(token) + "\r\nContent-Length: 100000\r\n\r\nbegun");
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return !partFiles(options.dataDir + "/files/Vantry/stalled").isEmpty(); }));
    const QString copy = testsupport::makeTempDir("copy") + "/backup";
    const Clock::time_point started = Clock::now();
    QProcess backup;
    backup.start(ServerProcess::program(), {"backup", "--data-dir", options.dataDir, "--to", copy});
    ASSERT_TRUE(backup.waitForFinished(60000));
    EXPECT_EQ(backup.exitCode(), 0) << backup.readAllStandardError().constData();
    done = true;
    for (std::thread& thread : burst)
        thread.join();
    stalled.reset();
    server.reset();
    EXPECT_EQ(modeOf(copy), 0700);
    EXPECT_EQ(modeOf(copy + "/storage-token"), 0600);
    EXPECT_EQ(modeOf(copy + "/vantry.sqlite3"), 0600);

    // Every file in the copy is one that was uploaded, whole (no part of the stalled one).
    QMap<QString, QByteArray> uploaded;
    for (const Acked& a : acked)
        uploaded.insert(a.id, a.bytes);
    for (QDirIterator it(copy + "/files", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next().mid(copy.size() + 7); // after "/files/"
        EXPECT_EQ(testsupport::readFile(it.filePath()), uploaded.value(path, "not uploaded"))
            << path.toStdString();
    }
    // A server started on the copy has every record and file acknowledged before the backup began.
    options.dataDir = copy;
    server = startServer(options);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->storageToken().toStdString(), token);
    httplib::Client client("127.0.0.1", server->port());
    int checked = 0;
    for (const Acked& a : acked) {
        if (a.at >= started)
            continue;
        ++checked;
        if (a.bytes.isEmpty()) {
            EXPECT_TRUE(server->database().app(a.id)) << a.id.toStdString();
        } else {
            const auto r = client.Get("/files/" + a.id.toStdString());
            EXPECT_EQ(r ? QByteArray::fromStdString(r->body) : QByteArray(), a.bytes) << a.id.toStdString();
        }
    }
    EXPECT_GE(checked, 80);
}

} // namespace
