// Both hosting jobs end to end against vantry-server: its storage API and its backend.
#include "JobSupport.h"

#include "app/JobFormat.h"
#include "backend/BackendApi.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "qrcode/QRCode.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/AuthorizedCall.h"
#include "storage/selfhosted/SelfHostedClientManager.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QNetworkReply>

#include <gtest/gtest.h>

namespace {

QByteArray get(const QString& url) {
    std::unique_ptr<QNetworkReply> reply(storageNetwork()->get(QNetworkRequest(QUrl(url))));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

class SelfHostedJob : public ::testing::Test {
protected:
    void SetUp() override {
        ServerOptions options;
        options.dataDir = testsupport::makeTempDir(QStringLiteral("server"));
        options.ownerId = QStringLiteral("self:ann");
        server = startServer(options);
        ASSERT_TRUE(server);
        files = options.dataDir + QStringLiteral("/files");
        Config::instance().set(ConfigKey::BackendBaseUrl, server->publicUrl());
        currentUser().id = QStringLiteral("self:ann");
        // Registered, as sign-in does before any job: the backend keeps records only for its users.
        std::optional<bool> registered;
        BackendApi(server->localUrl())
            .addNewUser(
                currentUser(), [&] { registered = true; }, nullptr,
                [&](const QString&) { registered = false; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return registered.has_value(); }) && *registered);
        dir = testsupport::makeTempDir(QStringLiteral("job"));
        QDir().mkpath(workingFolder()); // the fake inspector, unlike the real one, makes none
    }
    void TearDown() override {
        storageNetwork()->clearConnectionCache();
        server.reset();
        Config::instance().reload();
    }

    template <class Job> std::unique_ptr<Job> job(const QString& package) {
        auto j = std::make_unique<Job>(QUrl::fromLocalFile(package), sink);
        const SelfHostedCredentials credentials{server->localUrl(), server->storageToken()};
        j->setClientFactory([credentials] { return std::make_unique<SelfHostedClientManager>(credentials); });
        j->setBackend(std::make_shared<ZelkoHostingBackend>(server->localUrl()));
        j->setClock(jobTime);
        j->setInspectorFactory([record = bigGame(dir + QStringLiteral("/AppIcon.png"))] {
            return new FakeInspector(record, {}, nullptr);
        });
        return j;
    }

    QStringList stored() const {
        QStringList out;
        for (QDirIterator it(files, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            out << QDir(files).relativeFilePath(it.next());
        out.sort();
        return out;
    }

    std::unique_ptr<VantryServer> server;
    QString files;
    QString dir;
    RecordingSink sink;
};

// The package, manifest, icon and QR code land in one job folder on the server, the manifest
// points at the package, the QR code (shown and uploaded) at the app's page; the job's steps:
// ScriptedJob.
TEST_F(SelfHostedJob, IosPackageBecomesALink) {
    // A capitalised name: manifest, icon and QR go to lowercased paths, their links keep the case.
    const QString package = testsupport::writeFile(dir + QStringLiteral("/BigGame.ipa"), "package bytes");
    auto j = job<IosJob>(package);
    j->start();
    ASSERT_TRUE(waitForEnd(*j)) << "stuck in " << j->stepTitle().toStdString();
    const auto& result = j->outcome();
    const QString link = server->publicUrl() + result.appId;
    EXPECT_EQ(result.resultLink, link);
    const QString folder = QStringLiteral("Vantry/BigGame_") + kStamp;
    EXPECT_EQ(stored(), (QStringList{folder + "/BigGame.ipa", folder + "/icon.png",
                                     folder + "/manifest.plist", folder + "/qr.png"}));
    EXPECT_EQ(get(result.packageLink), testsupport::readFile(package));
    const QByteArray manifest = get(result.manifestLink);
    EXPECT_TRUE(manifest.contains("<string>" + result.packageLink.toUtf8() + "</string>"))
        << manifest.constData();
    EXPECT_EQ(result.installUrl,
              JobFormat::installUrlPrefix + QUrl::toPercentEncoding(result.manifestLink, "!~*'()"));
    ASSERT_TRUE(sink.resultImage);
    EXPECT_EQ(sink.resultImage->size(), QSize(700, 700));
    EXPECT_EQ(QRCode::DetectQRCodes(*sink.resultImage), QStringList{link});
    QImage uploadedQr;
    ASSERT_TRUE(uploadedQr.loadFromData(get(result.qrImageLink)));
    EXPECT_EQ(QRCode::DetectQRCodes(uploadedQr), QStringList{link});

    const auto app = server->database().app(result.appId);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->appurl, result.installUrl);
    EXPECT_EQ(app->appicon, result.iconLink);
    EXPECT_EQ(app->qrLink, result.qrImageLink);
    EXPECT_EQ(app->appdate, QStringLiteral("2024/12/31 23:59"));
}

} // namespace
