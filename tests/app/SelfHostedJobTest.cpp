// Both hosting jobs end to end against vantry-server: its storage API and its backend.
#include "JobSupport.h"

#include "app/JobFormat.h"
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
        ASSERT_TRUE(signUpWithBackend(server->localUrl(), currentUser()));
        dir = testsupport::makeTempDir(QStringLiteral("job"));
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

TEST_F(SelfHostedJob, IosPackageBecomesALinkWithEveryStepInOrder) {
    // A capitalised name: manifest, icon and QR go to lowercased paths, their links keep the case.
    const QString package = makeIpa(dir + QStringLiteral("/BigGame.ipa"));
    auto j = job<IosJob>(package);
    j->start();
    ASSERT_TRUE(waitForEnd(*j)) << "stuck in " << j->stepTitle().toStdString();
    const auto& result = j->outcome();
    const QString link = server->publicUrl() + result.appId;
    const std::vector<Status> expected = {
        {"Making your project ready", "This takes few minutes", ProcessState::preparing},
        {"Setting basic configuration", "This takes few minutes. \n current file name BigGame",
         ProcessState::preparing},
        {"Setting basic configuration", "Current file name -  BigGame", ProcessState::preparing},
        {"Created", "There is a folder already been created!", ProcessState::preparing},
        {"Processing your .ipa", "This takes few minutes.", ProcessState::transferring},
        {"Creating url for the file", "This takes few minutes.", ProcessState::transferring},
        {"Creating export plist configuration", "", ProcessState::processing},
        {"Creating export plist configuration",
         "project - Big Game\nBundleID - com.example.big\nversion - 2.1", ProcessState::processing},
        {"Uploading configurations", "", ProcessState::transferring},
        {"Creating URL", "This takes few minutes.", ProcessState::processing},
        {"Finalising Details", "This takes few seconds.", ProcessState::processing},
        {"Hosting the app", "", ProcessState::hosting},
        {"Finalising Details", "This takes few seconds.", ProcessState::processing},
        {"Hosting the app", "Use this url - \n" + link, ProcessState::hosting},
        {"Process Complete", "The app is hosted here\n" + link, ProcessState::completed},
    };
    EXPECT_EQ(sink.statuses, expected);
    EXPECT_EQ(sink.notifications, (QList<QPair<QString, QString>>{{"BigGame", "Task Completed"}}));
    EXPECT_EQ(result.currentFileName, QStringLiteral("BigGame"));
    EXPECT_EQ(result.appFolderPath, QStringLiteral("/Vantry/BigGame_") + kStamp);
    EXPECT_EQ(result.resultLink, link);
    EXPECT_EQ(sink.percentages.constLast(), QStringLiteral("100.0 %"));

    // One job folder holding the package and the three generated files.
    const QString folder = QStringLiteral("Vantry/BigGame_") + kStamp;
    EXPECT_EQ(stored(), (QStringList{folder + "/BigGame.ipa", folder + "/icon.png",
                                     folder + "/manifest.plist", folder + "/qr.png"}));
    EXPECT_EQ(get(result.packageLink), testsupport::readFile(package));
    const QByteArray manifest = get(result.manifestLink);
    EXPECT_TRUE(manifest.contains("<string>" + result.packageLink.toUtf8() + "</string>"))
        << manifest.constData();
    EXPECT_TRUE(manifest.contains("<string>com.example.big</string>"));
    EXPECT_EQ(result.installUrl,
              JobFormat::installUrlPrefix + QUrl::toPercentEncoding(result.manifestLink, "!~*'()"));
    EXPECT_FALSE(get(result.iconLink).isEmpty());

    // The QR image, uploaded and shown, leads to the app's public page.
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
    EXPECT_TRUE(get(link).contains("Big Game"));
}

TEST_F(SelfHostedJob, AndroidPackageIsRegisteredWithItsOwnLink) {
    const QString package = makeApk(dir + QStringLiteral("/game.apk"));
    ASSERT_FALSE(package.isEmpty());
    auto j = job<AndroidJob>(package);
    j->start();
    ASSERT_TRUE(waitForEnd(*j)) << "stuck in " << j->stepTitle().toStdString();
    const auto& result = j->outcome();
    const QString pageLink = server->publicUrl() + QString(result.appId).remove(QStringLiteral("__android"));
    const std::vector<Status> expected = {
        {"Making your project ready", "This takes few minutes", ProcessState::preparing},
        {"Setting basic configuration", "This takes few minutes. \n current file name game",
         ProcessState::preparing},
        {"Setting basic configuration", "Current file name -  game", ProcessState::preparing},
        {"Created", "There is a folder already been created!", ProcessState::preparing},
        {"Processing your .apk", "This takes few minutes.", ProcessState::transferring},
        {"Creating url for the file", "This takes few minutes.", ProcessState::transferring},
        {"Creating export plist configuration", "", ProcessState::processing},
        {"Creating export plist configuration", "project - Game\nBundleID - com.example.game\nversion - 1.7",
         ProcessState::processing},
        {"Finalising Details", "This takes few seconds.", ProcessState::processing},
        {"Hosting the app", "", ProcessState::hosting},
        {"Finalising Details", "This takes few seconds.", ProcessState::processing},
        {"Hosting the app", "Use this url - \n" + pageLink, ProcessState::hosting},
        {"Process Complete", "The app is hosted here\n" + pageLink, ProcessState::completed},
    };
    EXPECT_EQ(sink.statuses, expected);
    EXPECT_EQ(result.appId.size(), 19); // ten random characters and "__android"
    EXPECT_TRUE(result.appId.endsWith(QLatin1String("__android")));
    const QString folder = QStringLiteral("Vantry/game_") + kStamp;
    EXPECT_EQ(stored(), (QStringList{folder + "/game.apk", folder + "/icon.png", folder + "/qr.png"}));
    const auto app = server->database().app(result.appId);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->appurl, result.packageLink);
    EXPECT_EQ(get(app->appurl), testsupport::readFile(package));
    // The QR code carries the identifier with its suffix; the server leads it to the page.
    ASSERT_TRUE(sink.resultImage);
    EXPECT_EQ(QRCode::DetectQRCodes(*sink.resultImage), QStringList{server->publicUrl() + result.appId});
    EXPECT_TRUE(get(server->publicUrl() + result.appId).contains("Game"));
}

TEST_F(SelfHostedJob, UnreadablePackageAndRefusedRegistrationFailWithTheirReason) {
    const QString broken = testsupport::writeFile(dir + QStringLiteral("/Broken.ipa"), "not a zip archive");
    auto j = job<IosJob>(broken);
    j->start();
    ASSERT_TRUE(waitForEnd(*j));
    EXPECT_EQ(sink.statuses.back(),
              (Status{"Error", "This file is not a valid iOS app package.", ProcessState::failed}));
    EXPECT_EQ(sink.notifications.constLast().second, QStringLiteral("Task done with error"));

    // The backend refuses an owner that is not a valid user id.
    currentUser().id = QStringLiteral("not a user id");
    RecordingSink second;
    auto k = std::make_unique<IosJob>(QUrl::fromLocalFile(makeIpa(dir + QStringLiteral("/Ok.ipa"))), second);
    const SelfHostedCredentials credentials{server->localUrl(), server->storageToken()};
    k->setClientFactory([credentials] { return std::make_unique<SelfHostedClientManager>(credentials); });
    k->setBackend(std::make_shared<ZelkoHostingBackend>(server->localUrl()));
    k->start();
    ASSERT_TRUE(waitForEnd(*k));
    EXPECT_EQ(second.statuses.back(),
              (Status{"Error", "The Vantry server refused the request: Invalid Authorization",
                      ProcessState::failed}));
    EXPECT_FALSE(server->database().app(k->outcome().appId));
}

// A simulator build stops at the preflight: "Error" with the reason, and the storage holds
// nothing, not even the application folder. An ad hoc build goes through, its warning in the
// detail and its device count on the server's record and install page.
TEST_F(SelfHostedJob, PreflightStopsASimulatorBuildAndAnnotatesAnAdHocOne) {
    IosApp simulator;
    simulator.platform = QStringLiteral("iPhoneSimulator");
    simulator.profile.reset();
    simulator.codeSignature = false;
    auto j = job<IosJob>(makeIpa(dir + QStringLiteral("/Sim.ipa"), simulator));
    j->start();
    ASSERT_TRUE(waitForEnd(*j));
    EXPECT_EQ(
        sink.statuses.back(),
        (Status{"Error",
                "This is a simulator build: it runs only in Xcode's simulator and installs on no iPhone or "
                "iPad. This build is not signed: iPhones and iPads refuse to install it.",
                ProcessState::failed}));
    EXPECT_EQ(stored(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(files + QStringLiteral("/Vantry")));

    IosApp adHoc;
    adHoc.profile->kind = QStringLiteral("ad-hoc");
    adHoc.profile->devices = 12;
    sink = RecordingSink();
    auto k = job<IosJob>(makeIpa(dir + QStringLiteral("/AdHoc.ipa"), adHoc));
    k->start();
    ASSERT_TRUE(waitForEnd(*k)) << "stuck in " << k->stepTitle().toStdString();
    EXPECT_EQ(k->state(), ProcessState::completed);
    EXPECT_TRUE(std::any_of(sink.statuses.begin(), sink.statuses.end(), [](const Status& st) {
        return st.detail ==
               QLatin1String("project - Big Game\nBundleID - com.example.big\nversion - 2.1\n\n"
                             "This build installs only on the 12 devices listed in its profile.");
    }));
    const auto app = server->database().app(k->outcome().appId);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->provisioneddevices, QStringLiteral("12"));
    EXPECT_EQ(server->database().provisionedDeviceIds(app->appid).value_or(QString()).count(','), 11);
    EXPECT_EQ(app->profilekind, QStringLiteral("ad-hoc"));
    EXPECT_TRUE(get(server->publicUrl() + k->outcome().appId)
                    .contains("Installs only on the 12 registered devices."));
}

} // namespace
