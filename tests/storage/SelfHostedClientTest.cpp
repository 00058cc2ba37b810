#include "CutLink.h"
#include "StorageFixture.h"
#include "server/S3Emulator.h"

#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/selfhosted/SelfHostedClientManager.h"

#include <QDir>
#include <QDirIterator>

#include <httplib.h>

#include <thread>

namespace {

class SelfHostedClient : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.dataDir = testsupport::makeTempDir(QStringLiteral("server"));
        options.ownerId = QStringLiteral("self:ann");
        options.ownerName = QStringLiteral("Ann");
        options.ownerEmail = QStringLiteral("ann@example.com");
        options.ownerAvatar = QStringLiteral("https://example.com/ann.png");
        server = startServer(options);
        ASSERT_TRUE(server);
        files = options.dataDir + QStringLiteral("/files");
        client = make(server->storageToken());
        Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
    }
    void TearDown() override {
        client.reset();
        storageNetwork()->clearConnectionCache();
        server.reset();
        Config::instance().reload();
    }
    std::unique_ptr<SelfHostedClientManager> make(const QString& token) {
        auto c = std::make_unique<SelfHostedClientManager>(SelfHostedCredentials{server->localUrl(), token});
        c->onFailure = [this](const QString& reason) { failures << reason; };
        return c;
    }
    QStringList stored() const {
        QStringList out;
        for (QDirIterator it(files, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            out << QDir(files).relativeFilePath(it.next());
        return out;
    }

    std::unique_ptr<VantryServer> server;
    std::unique_ptr<SelfHostedClientManager> client;
    QString files;
    QStringList failures;
};

// The owner is the server's; every failure ends in one sentence and no completion, unless cancelled.
TEST_F(SelfHostedClient, TheOwnerAndEveryFailureInOneSentence) {
    std::optional<ZUser> user;
    client->getUserData([&](const ZUser& u) { user = u; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return user.has_value(); }));
    EXPECT_EQ(
        QStringList({user->id, user->name, user->email, user->avatar}),
        QStringList({QStringLiteral("self:ann"), QStringLiteral("Ann"), QStringLiteral("ann@example.com"),
                     QStringLiteral("https://example.com/ann.png")}));

    const auto next = [&] {
        EXPECT_TRUE(testsupport::waitUntil([&] { return !failures.isEmpty(); }));
        return failures.isEmpty() ? QString() : failures.takeFirst();
    };
    auto refused = make(QStringLiteral("wrong-token"));
    bool called = false;
    refused->getUserData([&](const ZUser&) { called = true; });
    EXPECT_EQ(
        next(),
        QStringLiteral("The self-hosted Vantry server refused the storage token; check selfhosted/token."));
    client->uploadFile(QStringLiteral("/no/such/file.ipa"), QStringLiteral("/a.ipa"),
                       [&](bool) { called = true; }, {});
    EXPECT_EQ(next(), QStringLiteral("The file could not be read."));
    client->shareLink(QStringLiteral("/Vantry/missing.ipa"), [&](const QString&) { called = true; });
    EXPECT_EQ(next(), QStringLiteral("The self-hosted Vantry server refused the request: No such file."));

    SelfHostedClientManager unset(std::nullopt);
    unset.onFailure = [&](const QString& reason) { failures << reason; };
    unset.createFolder(QStringLiteral("/Vantry"), [&](bool) { called = true; });
    EXPECT_TRUE(next().startsWith(QLatin1String("No self-hosted Vantry server is set up")));

    storageNetwork()->clearConnectionCache();
    server->stop();
    client->createFolder(QStringLiteral("/Vantry"), [&](bool) { called = true; });
    EXPECT_FALSE(next().isEmpty());
    // Cancelled, an upload calls nothing, not even the failure it was heading for.
    client->uploadFile(testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/a.ipa"), "a"),
                       QStringLiteral("/Vantry/a.ipa"), [&](bool) { called = true; }, {});
    client->cancelTask();
    EXPECT_FALSE(testsupport::waitUntil([&] { return called || !failures.isEmpty(); }, 300));
}

// A cut upload resumes from the offset the server holds (tus): one cut at half the file stores it
// byte for byte, sending again at most what was in flight; three cuts in a row end it in one
// sentence with nothing stored. A server whose files live in a bucket refuses tus (501; asked once
// per client) and gets the files by PUT, a cut one sent again whole.
TEST_F(SelfHostedClient, ACutUploadResumesAndThreeCutsInARowEndIt) {
    std::unique_ptr<S3Emulator> s3;
    std::unique_ptr<VantryServer> bucketServer;
    if (S3Emulator::missing().isEmpty()) {
        s3 = std::make_unique<S3Emulator>();
        ASSERT_TRUE(s3->isRunning() && s3->createBucket("vantry-files"));
        ServerOptions options = s3->options(QStringLiteral("vantry-files"));
        options.accessKey = QStringLiteral("team-key");
        ASSERT_TRUE(bucketServer = startServer(options));
    }
    const QByteArray bytes = pattern(16 << 20);
    // The local path arrives percent-encoded once, as the job hands it on.
    const QString local = QString::fromLatin1(QUrl::toPercentEncoding(
        testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/My cut%.ipa"), bytes), "/"));
    for (const auto& [cuts, to] : {std::pair{1, server.get()}, {3, server.get()}, {1, bucketServer.get()}}) {
        if (!to)
            continue; // no S3 emulator here
        SCOPED_TRACE(testing::Message() << cuts << (to == server.get() ? " on disk" : " in a bucket"));
        CutLink link(quint16(to->port()));
        SelfHostedClientManager client(SelfHostedCredentials{
            QStringLiteral("http://127.0.0.1:%1/").arg(link.port()), to->storageToken()});
        QStringList notices;
        std::vector<bool> done;
        failures.clear();
        client.onFailure = [this](const QString& reason) { failures << reason; };
        client.onNotice = [&](const QString& text) { notices << text; };
        link.cut(bytes.size() / 2, cuts);
        const auto upload = [&](const QString& remote) {
            done.clear();
            client.uploadFile(local, remote, [&](bool f) { done.push_back(f); }, {});
            EXPECT_TRUE(testsupport::waitUntil([&] { return !done.empty() || !failures.isEmpty(); }));
        };
        upload(QStringLiteral("/Vantry/My cut%1%.ipa").arg(cuts));
        EXPECT_EQ(notices.size(), cuts == 1 ? 1 : 2);
        if (cuts == 1) {
            EXPECT_EQ(done, std::vector<bool>{false});
            // Any case finds the file; the link keeps the stored case, percent-encoded.
            QString shared;
            client.shareLink(QStringLiteral("/vantry/my cut1%.ipa"), [&](const QString& l) { shared = l; });
            ASSERT_TRUE(testsupport::waitUntil([&] { return !shared.isEmpty(); }));
            EXPECT_EQ(shared, to->publicUrl() + QStringLiteral("files/Vantry/My%20cut1%25.ipa"));
            EXPECT_EQ(download(shared), bytes);
            if (to == server.get()) {
                EXPECT_LT(link.sent(), bytes.size() * 5 / 4);
                continue;
            }
            EXPECT_GT(link.sent(), bytes.size() * 3 / 2);
            upload(QStringLiteral("/Vantry/again.ipa"));
            QNetworkRequest metrics(QUrl(to->localUrl() + QStringLiteral("metrics")));
            metrics.setRawHeader("X-Vantry-Access-Key", "team-key");
            std::unique_ptr<QNetworkReply> reply(storageNetwork()->get(metrics));
            ASSERT_TRUE(testsupport::waitUntil([&] { return reply->isFinished(); }));
            EXPECT_TRUE(reply->readAll().contains(
                "vantry_http_requests_total{route=\"/storage/tus\",status=\"5xx\"} 1\n"));
            continue;
        }
        EXPECT_TRUE(done.empty());
        EXPECT_EQ(failures,
                  QStringList{QStringLiteral("The connection to the self-hosted Vantry server dropped 3 "
                                             "times during the upload; check the network and try again.")});
        EXPECT_EQ(stored().filter(QStringLiteral("cut3")), QStringList{});
    }
}

TEST(SelfHostedCredentialsTest, EnvironmentThenStoreThenConfigThenTheLocalServersToken) {
    Config& config = Config::instance();
    EXPECT_FALSE(selfHostedCredentials()) << "no token anywhere";
    testsupport::writeFile(defaultServerTokenPath(), "local-token\n");
    EXPECT_EQ(selfHostedCredentials()->token, QStringLiteral("local-token")) << "a server on this machine";
    KeychainHelper().save(selfHostedService, KeychainHelper::accountName,
                          QStringLiteral(R"({"url": "https://files.example.com", "token": "stored-token"})"));
    auto found = selfHostedCredentials();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->url, QStringLiteral("https://files.example.com/"));
    EXPECT_EQ(found->token, QStringLiteral("stored-token"));
    config.set(ConfigKey::SelfHostedToken, QStringLiteral("env-token"));
    EXPECT_EQ(selfHostedCredentials()->token, QStringLiteral("env-token"));
    KeychainHelper().save(selfHostedService, KeychainHelper::accountName, QString());
    QFile::remove(defaultServerTokenPath());
    config.reload();
}

// A PATCH answered 409 or 423 meets another request still on the upload (a cut one the server is
// still storing): the upload asks where it stands and goes on, as after a cut. An offset past the
// file's end, asked after such an answer, ends the upload with what it is, not as busy again.
TEST(SelfHostedTus, AnUploadStillBusyOnTheServerIsResumedNotFailed) {
    Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
    httplib::Server fake;
    std::string stored;
    int patches = 0;
    std::atomic<bool> lie = false; // the second upload: always busy, then an impossible offset
    fake.Post("/storage/tus", [](const httplib::Request&, httplib::Response& res) {
        res.status = 201;
        res.set_header("Location", "/storage/tus/u1");
    });
    fake.Get("/storage/tus/u1", [&](const httplib::Request&, httplib::Response& res) {
        res.status = 204;
        res.set_header("Upload-Offset", lie ? "999999999" : std::to_string(stored.size()));
    });
    fake.Patch("/storage/tus/u1", [&](const httplib::Request& req, httplib::Response& res) {
        res.status = ++patches == 1 || lie ? 409 : patches == 2 ? 423 : 204;
        if (res.status == 204)
            stored += req.body;
        res.set_header("Upload-Offset", std::to_string(stored.size()));
    });
    const int port = fake.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { fake.listen_after_bind(); });
    SelfHostedClientManager client(
        SelfHostedCredentials{QStringLiteral("http://127.0.0.1:%1/").arg(port), "t"});
    QStringList failures;
    client.onFailure = [&](const QString& reason) { failures << reason; };
    const QByteArray bytes = pattern(100000);
    std::optional<bool> done;
    client.uploadFile(testsupport::writeFile(testsupport::makeTempDir() + "/a.ipa", bytes), "/Vantry/a.ipa",
                      [&](bool f) { done = f; }, {});
    EXPECT_TRUE(testsupport::waitUntil([&] { return done || !failures.isEmpty(); }));
    EXPECT_EQ(failures, QStringList());
    EXPECT_EQ(patches, 3);
    EXPECT_TRUE(stored == bytes.toStdString());

    lie = true;
    done.reset();
    client.uploadFile(testsupport::writeFile(testsupport::makeTempDir() + "/b.ipa", bytes), "/Vantry/b.ipa",
                      [&](bool f) { done = f; }, {});
    EXPECT_TRUE(testsupport::waitUntil([&] { return !failures.isEmpty(); }));
    fake.stop();
    serving.join();
    EXPECT_EQ(failures, QStringList{QStringLiteral("The server reported an impossible offset.")});
    EXPECT_EQ(patches, 4);
    Config::instance().reload();
}

} // namespace
