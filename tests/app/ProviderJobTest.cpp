// The iOS job against each cloud provider's emulator, with vantry-server as the backend.
#include "JobSupport.h"

#include "app/JobFormat.h"
#include "core/Config.h"
#include "qrcode/QRCode.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/StorageFixture.h"

#include <type_traits>

namespace {

template <class Fixture> class ProviderJob : public Fixture {};
using Fixtures = ::testing::Types<DropboxFixture, DriveFixture, WorkDriveFixture>;
TYPED_TEST_SUITE(ProviderJob, Fixtures);

TYPED_TEST(ProviderJob, IosJobRunsEveryStepAndRegistersTheApp) {
    ServerOptions options;
    const auto server = startServer(options);
    ASSERT_TRUE(server);
    Config::instance().set(ConfigKey::BackendBaseUrl, server->publicUrl());
    if constexpr (!std::is_same_v<TypeParam, WorkDriveFixture>)
        currentUser().id = QStringLiteral("dbid:AAH-emulated");

    // The main view reads the user's profile before any job; WorkDrive finds its space that way.
    bool profileRead = false;
    this->client->getUserData([&](const ZUser&) { profileRead = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return profileRead; }));
    if constexpr (std::is_same_v<TypeParam, WorkDriveFixture>) {
        ASSERT_TRUE(testsupport::waitUntil([] { return !privateSpaceId().isEmpty(); }));
    }
    ASSERT_TRUE(signUpWithBackend(server->localUrl(), currentUser()));

    const QString package =
        makeIpa(testsupport::makeTempDir(QStringLiteral("pkg")) + QStringLiteral("/BigGame.ipa"));
    RecordingSink sink;
    IosJob job(QUrl::fromLocalFile(package), sink);
    using Client = std::remove_cvref_t<decltype(*this->client)>;
    job.setClientFactory([] { return std::make_unique<Client>(); });
    job.setBackend(std::make_shared<ZelkoHostingBackend>(server->localUrl()));
    job.setClock(jobTime);
    job.start();
    ASSERT_TRUE(waitForEnd(job, 120000)) << "stuck in " << job.stepTitle().toStdString();
    ASSERT_EQ(job.state(), ProcessState::completed) << sink.statuses.back().detail.toStdString();

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
    if constexpr (std::is_same_v<TypeParam, DropboxFixture>) {
        // Dropbox addresses by path: the generated files sit at the lowercased paths.
        const QString folder = QStringLiteral("/vantry/biggame_") + kStamp;
        for (const char* name : {"/manifest.plist", "/icon.png", "/qr.png"})
            EXPECT_FALSE(this->emulator->storedFile(folder + QLatin1String(name)).isEmpty()) << name;
    }
}

} // namespace
