#include "StorageFixture.h"

#include <QFile>

namespace {
using Fault = DropboxEmulator::Fault;
using testsupport::waitUntil;

void useSmallSessions() {
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes, QStringLiteral("65536"));
    Config::instance().set(ConfigKey::DropboxUploadChunkBytes, QStringLiteral("40000"));
}

using DropboxClient = DropboxFixture;

TEST_F(DropboxClient, CreatesFoldersAndReportsAnExistingOneOnce) {
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{false});
    EXPECT_EQ(folder(QStringLiteral("/Vantry/App_2024_05_01_10_20_30")), std::vector<bool>{false});
    EXPECT_EQ(folder(QStringLiteral("/vantry")), std::vector<bool>{true});
    EXPECT_TRUE(emulator->folderExists(QStringLiteral("/Vantry/App_2024_05_01_10_20_30")));

    // Other route errors reach onFailure.
    int calls = 0;
    client->createFolder(QStringLiteral("no-slash"), [&](bool) { ++calls; });
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("Dropbox did not create the folder (malformed_path).")});
    EXPECT_EQ(calls, 0);
}

TEST_F(DropboxClient, UploadsDecodedLocalPathsUnderUnicodeNamesAndOverwrites) {
    const QString path = local(QStringLiteral("My App Café.ipa"), "first version");
    const QString remote = QStringLiteral("/Vantry/Job/Café Ünïcode.ipa");
    upload(QString::fromUtf8(QUrl::toPercentEncoding(path, "/")), remote);
    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);

    QFile::remove(path);
    local(QStringLiteral("My App Café.ipa"), "second, longer version");
    upload(path, remote);
    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_EQ(storedBytes(remote), QByteArray("second, longer version"));
    EXPECT_EQ(emulator->displayPath(remote), remote); // overwritten, not renamed
    EXPECT_TRUE(emulator->rejectedArgs().isEmpty());
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(DropboxClient, AnUnreadableFileIsReportedToAFailureHandlerSetAfterTheCall) {
    client->onFailure = nullptr;
    int calls = 0;
    client->uploadFile(QStringLiteral("/nonexistent/App.ipa"), QStringLiteral("/Job/App.ipa"),
                       [&](bool) { ++calls; }, {});
    client->onFailure = [this](const QString& reason) { failures.append(reason); };
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("The file could not be read.")});
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(emulator->requests().isEmpty());
}

TEST_F(DropboxClient, UploadFinishCases) {
    useSmallSessions();
    const QString path = local(QStringLiteral("big.ipa"), pattern(150000));

    // Committed through a session in the batch form: completion(false), bytes intact.
    upload(path, QStringLiteral("/Job/big.ipa"));
    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_EQ(storedBytes(QStringLiteral("/Job/big.ipa")), pattern(150000));
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload_session/finish_batch_v2")), 1);

    // The session is gone when the batch finishes: lookup failed, completion(true).
    emulator->injectFault(QStringLiteral("files/upload_session/finish_batch_v2"), Fault::ExpireSession);
    upload(path, QStringLiteral("/Job/again.ipa"));
    EXPECT_EQ(uploadFlags, std::vector<bool>{true});

    // Any other finish error reaches onFailure.
    EXPECT_TRUE(failures.isEmpty());
    uploadFlags.clear();
    client->uploadFile(path, QStringLiteral("/Job"), [this](bool f) { uploadFlags.push_back(f); }, {});
    waitForFailures();
    EXPECT_EQ(failures,
              QStringList{QStringLiteral("Dropbox did not keep the uploaded file (path/conflict).")});
    EXPECT_TRUE(uploadFlags.empty());
}

TEST_F(DropboxClient, RetriedPiecesNeverLandAtAWrongOffset) {
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes, QStringLiteral("65536"));
    Config::instance().set(ConfigKey::DropboxUploadChunkBytes, QStringLiteral("4194304"));
    Config::instance().set(ConfigKey::StorageRetryBackoffMilliseconds, QStringLiteral("20"));
    const QByteArray bytes = pattern(4 * (4 << 20) + 1000);
    const QString path = local(QStringLiteral("retry.ipa"), bytes);
    const QString append = QStringLiteral("files/upload_session/append_v2");
    emulator->injectFault(append, Fault::TooManyRequests, 1, 1);
    emulator->injectFault(append, Fault::ServerError);
    emulator->injectFault(append, Fault::DropConnection);
    emulator->injectFault(append, Fault::LoseAnswer);
    testsupport::LogCapture log;
    upload(path, QStringLiteral("/Job/retry.ipa"));

    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_EQ(storedBytes(QStringLiteral("/Job/retry.ipa")), bytes);
    // 429 and 500 repeat the first piece at once, the dropped connection and the lost answer after
    // a back-off; then the pieces go several at a time, each at its own offset.
    QStringList offsets;
    for (const QString& line : emulator->requests().filter(append))
        offsets.append(line.section(QLatin1Char('='), 1));
    EXPECT_EQ(offsets.mid(0, 5).join(QLatin1Char(' ')).toStdString(), "0 0 0 0 0")
        << offsets.join(QLatin1Char(' ')).toStdString();
    offsets.removeDuplicates();
    std::sort(offsets.begin(), offsets.end(),
              [](const QString& a, const QString& b) { return a.toLongLong() < b.toLongLong(); });
    EXPECT_EQ(offsets.join(QLatin1Char(' ')).toStdString(), "0 4194304 8388608 12582912 16777216");
    EXPECT_TRUE(log.joined().contains(QStringLiteral("HTTP 429, retrying in 1000 ms")));
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i], progress[i - 1]);
}

TEST_F(DropboxClient, CancelStopsARunningUploadAndCallsNothingAfter) {
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes, QStringLiteral("1048576"));
    Config::instance().set(ConfigKey::DropboxUploadChunkBytes, QStringLiteral("4194304"));
    const QString path = local(QStringLiteral("slow.ipa"), pattern(24 << 20));
    emulator->setSlowBytesPerSecond(8 << 20);
    emulator->injectFault(QStringLiteral("files/upload_session/append_v2"), Fault::Slow, 10);
    int calls = 0;
    client->uploadFile(
        path, QStringLiteral("/Job/slow.ipa"), [&](bool) { ++calls; },
        [&](double f) { progress.push_back(f); });
    ASSERT_TRUE(
        waitUntil([&] { return emulator->count(QStringLiteral("files/upload_session/append_v2")) == 1; }));
    const int progressBefore = int(progress.size());
    client->cancelTask();
    ASSERT_TRUE(waitUntil([&] { return emulator->abortedBodies() == 1; }));
    const qint64 received = emulator->bytesReceived();
    // One more round trip through the emulator: anything the upload still had queued would show.
    client->getUserData([&](const ZUser&) { ++calls; });
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    EXPECT_EQ(int(progress.size()), progressBefore);
    EXPECT_LT(received, qint64(24 << 20));
    EXPECT_EQ(emulator->bytesReceived(), received);
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload_session/append_v2")), 1);
    EXPECT_EQ(emulator->count(QStringLiteral("files/upload_session/finish_batch_v2")), 0);
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(DropboxClient, ShareLinksServeTheBytesAndReuseAnExistingLink) {
    const QString path = local(QStringLiteral("App.ipa"), "package bytes");
    upload(path, QStringLiteral("/Job/App.ipa"));
    QStringList links;
    client->shareLink(QStringLiteral("/Job/App.ipa"), [&](const QString& link) { links.append(link); });
    ASSERT_TRUE(waitUntil([&] { return links.size() == 1; }));
    client->shareLink(QStringLiteral("/Job/App.ipa"), [&](const QString& link) { links.append(link); });
    ASSERT_TRUE(waitUntil([&] { return links.size() == 2; }));
    emulator->setOmitExistingLinkMetadata(true);
    client->shareLink(QStringLiteral("/Job/App.ipa"), [&](const QString& link) { links.append(link); });
    ASSERT_TRUE(waitUntil([&] { return links.size() == 3; }));

    const QString direct = emulator->baseUrl() + QStringLiteral("/scl/fi/");
    EXPECT_TRUE(links[0].startsWith(direct)) << links[0].toStdString();
    EXPECT_TRUE(links[0].contains(QStringLiteral("?rlkey=")));
    EXPECT_FALSE(links[0].contains(QStringLiteral("dl=")));
    EXPECT_EQ(links[1], links[0]);
    EXPECT_EQ(links[2], links[0]);
    EXPECT_EQ(download(links[0]), QByteArray("package bytes"));
    EXPECT_TRUE(failures.isEmpty());

    client->shareLink(QStringLiteral("/Job/missing.ipa"), [&](const QString& link) { links.append(link); });
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("path/not_found/..")});
    EXPECT_EQ(links.size(), 3);
}

TEST_F(DropboxClient, ReadsTheAccountAndReportsItsFailures) {
    emulator->setAccount({QStringLiteral("dbid:AAH4f99T0taONIb-OurWxbNQ6ywGRopQngc"),
                          QStringLiteral("Franz Ferdinand"), QStringLiteral("franz@example.com"), QString()});
    std::vector<ZUser> users;
    client->getUserData([&](const ZUser& user) { users.push_back(user); });
    ASSERT_TRUE(waitUntil([&] { return users.size() == 1; }));
    EXPECT_EQ(users[0].id, QStringLiteral("dbid:AAH4f99T0taONIb-OurWxbNQ6ywGRopQngc"));
    EXPECT_EQ(users[0].name, QStringLiteral("Franz Ferdinand"));
    EXPECT_EQ(users[0].email, QStringLiteral("franz@example.com"));
    EXPECT_TRUE(users[0].avatar.isEmpty());

    emulator->injectFault(QStringLiteral("users/get_current_account"), Fault::RouteError);
    client->getUserData([&](const ZUser& user) { users.push_back(user); });
    waitForFailures(1);
    EXPECT_EQ(failures[0], QStringLiteral("No response"));

    // Rate limited beyond the retries: a readable text, no raw code.
    emulator->injectFault(QStringLiteral("users/get_current_account"), Fault::TooManyRequests, 10, 0);
    client->getUserData([&](const ZUser& user) { users.push_back(user); });
    waitForFailures(2, 20000);
    EXPECT_EQ(failures[1], QStringLiteral("Dropbox is receiving too many requests. Try again later."));

    goOffline();
    client->getUserData([&](const ZUser& user) { users.push_back(user); });
    client->createFolder(QStringLiteral("/Vantry"), [&](bool) { users.push_back({}); });
    waitForFailures(4);
    EXPECT_EQ(failures[2], QStringLiteral("Could not connect to the server."));
    EXPECT_EQ(failures[3], QStringLiteral("Could not connect to the server."));
    EXPECT_EQ(users.size(), 1u);
}

TEST_F(DropboxClient, ExpiredTokenIsRefreshedOnceForConcurrentCallsAndNeverLogged) {
    testsupport::LogCapture log;
    emulator->addAccessToken(QStringLiteral("sl.expired-secret"), true);
    DropboxAuth::instance().link(
        {QStringLiteral("sl.expired-secret"), refreshToken, QDateTime::currentSecsSinceEpoch() - 10});
    std::vector<bool> flags;
    DropBoxClientManager other;
    client->createFolder(QStringLiteral("/A"), [&](bool e) { flags.push_back(e); });
    other.createFolder(QStringLiteral("/B"), [&](bool e) { flags.push_back(e); });
    ASSERT_TRUE(waitUntil([&] { return flags.size() == 2; }));
    EXPECT_EQ(emulator->refreshGrants(), 1);

    // A token the server refuses although it looked valid is refreshed once and the call repeated.
    DropboxAuth::instance().link(
        {QStringLiteral("sl.expired-secret"), refreshToken, QDateTime::currentSecsSinceEpoch() + 3600});
    client->createFolder(QStringLiteral("/C"), [&](bool e) { flags.push_back(e); });
    ASSERT_TRUE(waitUntil([&] { return flags.size() == 3; }));
    EXPECT_EQ(emulator->refreshGrants(), 2);
    EXPECT_TRUE(emulator->folderExists(QStringLiteral("/C")));

    // A revoked refresh token ends in a request to sign in again.
    emulator->setRefreshToken(QStringLiteral("another"));
    DropboxAuth::instance().link({QStringLiteral("sl.expired-secret"), refreshToken, 1});
    client->getUserData([](const ZUser&) {});
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("Sign in to Dropbox again.")});

    const QString all = log.joined();
    EXPECT_FALSE(all.isEmpty());
    for (const QString& secret :
         {accessToken, refreshToken, QStringLiteral("sl.expired-secret"), QStringLiteral("sl.emu-")})
        EXPECT_FALSE(all.contains(secret)) << secret.toStdString();
}
} // namespace
