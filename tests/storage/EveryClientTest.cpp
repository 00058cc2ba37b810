// What every provider's client must do alike, run against each emulator.
#include "StorageFixture.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>

#include <type_traits>

namespace {
using testsupport::waitUntil;

QByteArray sha256(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// Peak resident memory from here on, in bytes (the kernel's high-water mark is reset first).
struct PeakMemory {
    PeakMemory() { testsupport::writeFile(QStringLiteral("/proc/self/clear_refs"), "5"); }
    static qint64 field(const char* name) {
        for (const QByteArray& line :
             testsupport::readFile(QStringLiteral("/proc/self/status")).split('\n')) {
            if (line.startsWith(name))
                return line.mid(qsizetype(strlen(name))).trimmed().split(' ').first().toLongLong() * 1024;
        }
        return -1;
    }
    qint64 growth() const { return field("VmHWM:") - m_start; }
    qint64 m_start = field("VmRSS:");
};

enum class Op { AppFolder, JobFolder, Upload, Link, User };
constexpr Op everyOp[] = {Op::AppFolder, Op::JobFolder, Op::Upload, Op::Link, Op::User};
const char* name(Op op) {
    static const char* const names[] = {"application folder", "job folder", "upload", "link", "user data"};
    return names[int(op)];
}

// Runs one operation of the client at a time and counts its endings (completions and onFailure), or
// reads the profile into `users`.
template <class Fixture> class EveryClient : public Fixture {
protected:
    std::vector<ZUser> users;
    void readProfile(ClientManager& client) {
        client.getUserData([this](const ZUser& user) { users.push_back(user); });
    }

    void SetUp() override {
        Fixture::SetUp();
        m_file = this->local(QStringLiteral("App.ipa"), "package bytes");
    }

    int endings() const { return completions + int(this->failures.size()); }

    void start(Op op) {
        completions = 0;
        this->failures.clear();
        ClientManager& client = *this->client;
        const auto done = [this](auto&&...) { ++completions; };
        switch (op) {
        case Op::AppFolder:
            return client.createFolder(QStringLiteral("/Vantry"), done);
        case Op::JobFolder:
            return client.createFolder(QStringLiteral("/Vantry/Job_%1").arg(++m_jobs), done);
        case Op::Upload:
            return client.uploadFile(m_file, QStringLiteral("/Vantry/Job/App.ipa"), done, {});
        case Op::Link:
            return client.shareLink(QStringLiteral("/Vantry/Job/App.ipa"), done);
        case Op::User:
            return client.getUserData(done);
        }
    }

    // Zero endings or two fail the test.
    void run(Op op) {
        start(op);
        EXPECT_TRUE(waitUntil([&] { return endings() >= 1; }, 30000)) << "no ending: " << name(op);
        // A second ending would come within a few turns of the event loop.
        EXPECT_FALSE(waitUntil([&] { return endings() >= 2; }, 300)) << "two endings: " << name(op);
    }

    // Folder, job folder and upload done, so that every operation has what it needs.
    void prepare() {
        for (Op op : {Op::AppFolder, Op::JobFolder, Op::Upload}) {
            run(op);
            ASSERT_EQ(completions, 1) << name(op);
        }
    }

    // The emulator refuses the next request of this operation as the provider would.
    void refuse(Op op) {
        if constexpr (std::is_same_v<Fixture, DropBoxFixture>) {
            static const char* const routes[] = {"files/create_folder_v2", "files/create_folder_v2",
                                                 "files/upload", "sharing/create_shared_link_with_settings",
                                                 "users/get_current_account"};
            this->emulator->injectFault(QString::fromLatin1(routes[int(op)]),
                                        DropBoxEmulator::Fault::ServerError, 10);
        } else if constexpr (std::is_same_v<Fixture, DriveFixture>) {
            static const char* const kinds[] = {"list", "create", "upload", "permission", "userinfo"};
            this->emulator->injectFault(QString::fromLatin1(kinds[int(op)]), DriveEmulator::Fault::Forbidden);
        } else if (op == Op::Upload) {
            this->emulator->injectFault(WorkDriveEmulator::Fault::DropUpload);
        } else {
            static const char* const requests[] = {"GET /api/v1/privatespace/", "POST /api/v1/files", "",
                                                   "POST /api/v1/links", "GET /api/v1/users/me"};
            this->emulator->answerOnce(QString::fromLatin1(requests[int(op)]), 403,
                                       R"({"errors":[{"id":"F007","title":"Permission denied"}]})");
        }
    }

    int completions = 0;

private:
    QString m_file;
    int m_jobs = 0;
};
using Fixtures = ::testing::Types<DropBoxFixture, DriveFixture, WorkDriveFixture>;
TYPED_TEST_SUITE(EveryClient, Fixtures);

TYPED_TEST(EveryClient, ThreeHundredMegabytesStreamFromDiskWithSteadyProgress) {
    const qint64 size = qint64(300) * 1000 * 1000;
    const QString local = this->local(QStringLiteral("large.ipa"), pattern(int(size)));
    this->prepareUpload();
    const PeakMemory memory;
    ASSERT_GT(PeakMemory::field("VmHWM:"), 0);
    this->upload(local, QStringLiteral("/Vantry/Job/large.ipa"), 120000);

    EXPECT_EQ(this->uploadFlags, std::vector<bool>{false});
    EXPECT_TRUE(this->failures.isEmpty());
    EXPECT_LT(memory.growth(), qint64(64) << 20);
    // Dropbox and Drive report as the bytes of their pieces leave, rising every time; WorkDrive's
    // single stream may repeat a value.
    const bool chunked = !std::is_same_v<TypeParam, WorkDriveFixture>;
    const std::vector<double>& progress = this->progress;
    ASSERT_GT(progress.size(), chunked ? size_t(size / (8 << 20)) : 10u);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    double largestStep = progress.front();
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_TRUE(chunked ? progress[i] > progress[i - 1] : progress[i] >= progress[i - 1]) << i;
        largestStep = qMax(largestStep, progress[i] - progress[i - 1]);
    }
    EXPECT_TRUE(!chunked || largestStep <= double(8 << 20) / double(size)) << largestStep;
    if constexpr (std::is_same_v<TypeParam, DropBoxFixture>) {
        // After the first piece of 8 MiB the pieces grow to what the link carries.
        EXPECT_EQ(this->emulator->count(QStringLiteral("files/upload")), 0);
        EXPECT_LT(this->emulator->count(QStringLiteral("files/upload_session/append_v2")),
                  int(size / (8 << 20)));
    }
    const QString stored = this->storedBlob(QStringLiteral("/Vantry/Job/large.ipa"));
    EXPECT_EQ(QFileInfo(stored).size(), size);
    EXPECT_EQ(sha256(stored), sha256(local));
    QFile::remove(local);
    QFile::remove(stored);
}

// A connection cut at half the file is resumed from what the provider acknowledged: the file is
// stored byte for byte and at most one piece goes twice (WorkDrive's stream cannot be continued:
// there the whole file is the piece). When every body from the half on is cut, the upload ends after
// its third try with one sentence. (Counting the emulator's cuts would not do: Dropbox's pieces in
// flight while the client waits to resume are one drop to it.)
TYPED_TEST(EveryClient, ResumesACutUploadAndGivesUpAfterThreeCutsInARow) {
    constexpr qint64 piece = 4 << 20;
    constexpr qint64 size = 5 * piece + 12345;
    constexpr bool dropbox = std::is_same_v<TypeParam, DropBoxFixture>;
    constexpr bool workDrive = std::is_same_v<TypeParam, WorkDriveFixture>;
    Config& config = Config::instance();
    config.set(ConfigKey::DropboxSingleUploadLimitBytes, QString::number(1 << 20));
    config.set(ConfigKey::DropboxUploadChunkBytes, QString::number(piece));
    config.set(ConfigKey::GoogleUploadChunkBytes, QString::number(piece));
    QString jobFolder;
    if constexpr (!dropbox)
        jobFolder = this->jobFolder();
    QStringList notices;
    this->client->onNotice = [&](const QString& text) { notices.append(text); };
    for (const int cuts : {1, 3}) {
        SCOPED_TRACE(cuts);
        // A name beyond ASCII; the local path arrives percent-encoded once, as the job hands it on.
        const QString name = QStringLiteral("Café cut%1.ipa").arg(cuts);
        const QString remote = QStringLiteral("/Vantry/Job/") + name;
        const QString local = this->local(name, pattern(int(size)));
        notices.clear();
        this->failures.clear();
        currentFolderId() = jobFolder;
        lastUploadedFileId().clear();
        const qint64 before = this->emulator->bytesReceived();
        this->emulator->cutUploads(size / 2, cuts == 1 ? 1 : 1000);
        this->upload(QString::fromUtf8(QUrl::toPercentEncoding(local, "/")), remote);
        if (cuts == 1) {
            EXPECT_EQ(this->uploadFlags, std::vector<bool>{false});
            EXPECT_TRUE(this->failures.isEmpty()) << this->failures.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(sha256(this->storedBlob(remote)), sha256(local));
            EXPECT_LE(this->emulator->bytesReceived() - before, size + (workDrive ? size : piece));
            ASSERT_EQ(notices.size(), 1);
            EXPECT_TRUE(notices[0].contains(QStringLiteral("resuming the upload")))
                << notices[0].toStdString();
            continue;
        }
        EXPECT_TRUE(this->uploadFlags.empty());
        ASSERT_EQ(this->failures.size(), 1);
        EXPECT_TRUE(this->failures[0].endsWith(
            QStringLiteral(" dropped 3 times during the upload; check the network and try again.")))
            << this->failures[0].toStdString();
        EXPECT_EQ(notices.size(), 2);
    }
}

// Expired: refreshed once for two clients asking together. Refused although it looked valid:
// refreshed once and the call repeated. Revoked: a request to sign in again. No token is logged.
TYPED_TEST(EveryClient, TokensAreRefreshedOnceAndNeverLogged) {
    testsupport::LogCapture log;
    std::remove_cvref_t<decltype(*this->client)> other;
    for (const TokenState state : {TokenState::Expired, TokenState::Refused}) {
        this->setToken(state);
        this->users.clear();
        const bool both = state == TokenState::Expired;
        this->readProfile(*this->client);
        if (both)
            this->readProfile(other);
        ASSERT_TRUE(
            waitUntil([&] { return this->users.size() == (both ? 2u : 1u) || !this->failures.isEmpty(); }));
        ASSERT_TRUE(this->failures.isEmpty()) << this->failures.join(' ').toStdString();
        EXPECT_EQ(this->emulator->refreshGrants(), int(state) + 1);
    }
    const ZUser& user = this->users[0];
    EXPECT_EQ(QStringList({user.name, user.email, user.id, user.avatar}),
              QStringList({this->profile.name, this->profile.email, this->profile.id, this->profile.avatar}));

    this->setToken(TokenState::Revoked);
    const size_t read = this->users.size();
    const int grants = this->emulator->refreshGrants();
    this->readProfile(*this->client);
    this->waitForFailures();
    EXPECT_EQ(this->emulator->refreshGrants() - grants, this->revokedRefreshes);
    EXPECT_EQ(this->failures, QStringList{QStringLiteral("Sign in to %1 again.").arg(this->label)});
    EXPECT_EQ(this->users.size(), read);
    EXPECT_FALSE(log.joined().contains(QRegularExpression(QStringLiteral("secret|\\.emu"))))
        << log.joined().toStdString();
}

TYPED_TEST(EveryClient, CancelMidUploadStopsTheBytesAndCallsNothingAfter) {
    this->prepareUpload();
    const qint64 size = qint64(64) << 20;
    const QString path = this->local(QStringLiteral("big.ipa"), QByteArray(size, 'x'));
    int calls = 0;
    bool cancelled = false;
    this->client->uploadFile(
        path, QStringLiteral("/Vantry/Job/big.ipa"), [&](bool) { ++calls; },
        [&](double f) {
            this->progress.push_back(f);
            if (!std::exchange(cancelled, true))
                this->client->cancelTask();
        });
    ASSERT_TRUE(waitUntil([&] { return cancelled; }));
    // One more round trip through the emulator: anything the upload still had queued would show.
    this->readProfile(*this->client);
    ASSERT_TRUE(waitUntil([&] { return !this->users.empty(); }));
    const qint64 received = this->emulator->bytesReceived();
    this->readProfile(*this->client);
    ASSERT_TRUE(waitUntil([&] { return this->users.size() == 2; }));
    EXPECT_EQ(this->emulator->bytesReceived(), received);
    EXPECT_LT(received, size);
    EXPECT_EQ(this->progress.size(), 1u);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(this->storedBytes(QStringLiteral("/Vantry/Job/big.ipa")).isEmpty());
    EXPECT_TRUE(this->failures.isEmpty());
    if constexpr (std::is_same_v<TypeParam, WorkDriveFixture>) {
        EXPECT_TRUE(this->emulator->uploads().isEmpty()); // the emulator keeps no cut-off upload
        EXPECT_EQ(this->emulator->count(QStringLiteral("/uploadprogress")), 0);
    }
}

TYPED_TEST(EveryClient, EndsInAFailureWhenSignedOutOrOffline) {
    this->unlink();
    for (Op op : everyOp) {
        this->run(op);
        EXPECT_EQ(this->failures,
                  QStringList{QStringLiteral("You are not signed in to %1.").arg(this->label)})
            << name(op);
    }
    EXPECT_TRUE(this->emulator->requests().isEmpty());

    this->linkAccount();
    // Stopped: every request meets a refused connection.
    storageNetwork()->clearConnectionCache();
    this->emulator->stop();
    for (Op op : everyOp) {
        this->run(op);
        ASSERT_EQ(this->failures.size(), 1) << name(op);
        // WorkDrive's upload puts " -" before the reason.
        EXPECT_TRUE(this->failures[0].endsWith(QStringLiteral("Could not connect to the server.")))
            << name(op) << ": " << this->failures[0].toStdString();
    }
}

// Answered: its completion. Cancelled: nothing, and the client still works. Refused as the provider
// would: one ending (some are a completion flag the job ignores, such as Drive's folder and upload).
TYPED_TEST(EveryClient, EndsOnceAnsweredOrRefusedAndNeverAfterACancel) {
    this->prepare();
    for (Op op : {Op::Link, Op::User}) {
        this->run(op);
        EXPECT_EQ(this->completions, 1) << name(op) << ": " << this->failures.join(' ').toStdString();
    }
    for (Op op : everyOp) {
        this->start(op);
        this->client->cancelTask();
        EXPECT_FALSE(waitUntil([&] { return this->endings() > 0; }, 500)) << name(op);
    }
    this->run(Op::User);
    EXPECT_EQ(this->completions, 1);
    for (Op op : everyOp) {
        this->refuse(op);
        this->run(op);
        EXPECT_TRUE(this->failures.isEmpty() || !this->failures[0].isEmpty()) << name(op);
    }
}
} // namespace
