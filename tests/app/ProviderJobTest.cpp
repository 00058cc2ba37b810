// The iOS job against each cloud provider's emulator when the upload is cut, with vantry-server as
// the backend.
#include "JobSupport.h"

#include "app/JobFormat.h"
#include "core/Config.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/StorageFixture.h"

#include <QFileInfo>

#include <algorithm>

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

// The package's upload is cut once on the way: the job says it resumes, goes on and registers.
TYPED_TEST(ProviderJob, ACutUploadIsResumedAndTheJobCompletes) {
    ASSERT_NO_FATAL_FAILURE(this->run(1));
    const RecordingSink& sink = this->sink;
    const IosJob& job = *this->job;
    ASSERT_EQ(job.state(), ProcessState::completed) << sink.statuses.back().detail.toStdString();
    const auto resumed = std::find_if(sink.statuses.begin(), sink.statuses.end(), [](const Status& s) {
        return s.detail.startsWith(QStringLiteral("The connection dropped at "));
    });
    ASSERT_NE(resumed, sink.statuses.end());
    EXPECT_EQ(resumed->title, QStringLiteral("Processing your .ipa"));
    const auto& result = job.outcome();
    // Drive's direct links point at Google itself, which no test reaches.
    if constexpr (!std::is_same_v<TypeParam, DriveFixture>) {
        EXPECT_EQ(download(result.packageLink), testsupport::readFile(this->package));
    }
    const auto app = this->server->database().app(result.appId);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->appurl, JobFormat::installUrl(result.manifestLink));
}

TYPED_TEST(ProviderJob, ThreeCutsInARowFailTheJobInOneSentenceAndRegisterNothing) {
    ASSERT_NO_FATAL_FAILURE(this->run(3));
    EXPECT_EQ(this->job->state(), ProcessState::failed);
    EXPECT_TRUE(this->job->failureReason().contains(QStringLiteral(" dropped 3 times during the upload; ")))
        << this->job->failureReason().toStdString();
    EXPECT_EQ(this->server->database().appsOf(currentUser().id).value_or(QList<StoredApp>{{}}).size(), 0);
}

} // namespace
