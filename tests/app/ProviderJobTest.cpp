// The iOS job against each cloud provider's emulator, with vantry-server as the backend.
#include "JobSupport.h"

#include "app/JobFormat.h"
#include "core/Config.h"
#include "qrcode/QRCode.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/StorageFixture.h"

#include <QFileInfo>

#include <type_traits>

namespace {

template <class Fixture> class ProviderJob : public Fixture {
protected:
    // Runs the iOS job to its end with vantry-server as the backend; the emulator drops `cuts`
    // connections in a row once half of the package is up.
    void run(int cuts) {
        server = startServer(ServerOptions{});
        ASSERT_TRUE(server);
        Config::instance().set(ConfigKey::BackendBaseUrl, server->publicUrl());
        Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
        if constexpr (!std::is_same_v<Fixture, WorkDriveFixture>)
            currentUser().id = QStringLiteral("dbid:AAH-emulated");

        // The main view reads the user's profile before any job; WorkDrive finds its space that way.
        bool profileRead = false;
        this->client->getUserData([&](const ZUser&) { profileRead = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return profileRead; }));
        if constexpr (std::is_same_v<Fixture, WorkDriveFixture>) {
            ASSERT_TRUE(testsupport::waitUntil([] { return !privateSpaceId().isEmpty(); }));
        }
        ASSERT_TRUE(signUpWithBackend(server->localUrl(), currentUser()));

        package = makeIpa(testsupport::makeTempDir(QStringLiteral("pkg")) + QStringLiteral("/BigGame.ipa"));
        this->emulator->cutUploads(QFileInfo(package).size() / 2, cuts);
        job = std::make_unique<IosJob>(QUrl::fromLocalFile(package), sink);
        using Client = std::remove_cvref_t<decltype(*this->client)>;
        job->setClientFactory([] { return std::make_unique<Client>(); });
        job->setBackend(std::make_shared<ZelkoHostingBackend>(server->localUrl()));
        job->setClock(jobTime);
        job->start();
        ASSERT_TRUE(waitForEnd(*job, 120000)) << "stuck in " << job->stepTitle().toStdString();
    }

    std::unique_ptr<VantryServer> server;
    QString package;
    RecordingSink sink;
    std::unique_ptr<IosJob> job;
};
using Fixtures = ::testing::Types<DropBoxFixture, DriveFixture, WorkDriveFixture>;
TYPED_TEST_SUITE(ProviderJob, Fixtures);

// The package's upload is cut once on the way: the job says it resumes, and goes on.
TYPED_TEST(ProviderJob, IosJobRunsEveryStepAndRegistersTheApp) {
    ASSERT_NO_FATAL_FAILURE(this->run(1));
    const RecordingSink& sink = this->sink;
    const IosJob& job = *this->job;
    const auto& server = this->server;
    const QString& package = this->package;
    ASSERT_EQ(job.state(), ProcessState::completed) << sink.statuses.back().detail.toStdString();

    QStringList titles;
    for (const Status& s : sink.statuses)
        titles << s.title;
    EXPECT_EQ(titles,
              (QStringList{"Making your project ready", "Setting basic configuration",
                           "Setting basic configuration", "Created", "Processing your .ipa",
                           "Processing your .ipa", "Creating url for the file",
                           "Creating export plist configuration", "Creating export plist configuration",
                           "Uploading configurations", "Creating URL", "Finalising Details",
                           "Hosting the app", "Finalising Details", "Hosting the app", "Process Complete"}));
    EXPECT_TRUE(sink.statuses[5].detail.startsWith(QStringLiteral("The connection dropped at ")))
        << sink.statuses[5].detail.toStdString();
    const auto& result = job.outcome();
    // Drive's direct links point at Google itself, which no test reaches.
    if constexpr (!std::is_same_v<TypeParam, DriveFixture>) {
        EXPECT_EQ(download(result.packageLink), testsupport::readFile(package));
        EXPECT_TRUE(
            download(result.manifestLink).contains("<string>" + result.packageLink.toHtmlEscaped().toUtf8()))
            << result.manifestLink.toStdString();
    }
    const QString link = server->publicUrl() + result.appId;
    ASSERT_TRUE(sink.resultImage);
    EXPECT_EQ(QRCode::DetectQRCodes(*sink.resultImage), QStringList{link});
    const auto app = server->database().app(result.appId);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->appurl, JobFormat::installUrl(result.manifestLink));
    EXPECT_FALSE(app->appicon.isEmpty());
    EXPECT_FALSE(app->qrLink.isEmpty());
    if constexpr (std::is_same_v<TypeParam, DropBoxFixture>) {
        // Dropbox addresses by path: the generated files sit at the lowercased paths.
        const QString folder = QStringLiteral("/vantry/biggame_") + kStamp;
        for (const char* name : {"/manifest.plist", "/icon.png", "/qr.png"})
            EXPECT_FALSE(this->emulator->storedFile(folder + QLatin1String(name)).isEmpty()) << name;
    }
}

TYPED_TEST(ProviderJob, ThreeCutsInARowFailTheJobInOneSentenceAndRegisterNothing) {
    ASSERT_NO_FATAL_FAILURE(this->run(3));
    EXPECT_EQ(this->job->state(), ProcessState::failed);
    EXPECT_TRUE(this->job->failureReason().contains(QStringLiteral(" dropped 3 times during the upload; ")))
        << this->job->failureReason().toStdString();
    EXPECT_EQ(this->server->database().appsOf(currentUser().id).value_or(QList<StoredApp>{{}}).size(), 0);
}

} // namespace
