#include "StorageFixture.h"

namespace {
using Fault = DropBoxEmulator::Fault;
using testsupport::waitUntil;

using DropBoxClient = DropBoxFixture;

TEST_F(DropBoxClient, CreatesFoldersAndReportsAnExistingOneOnce) {
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{false});
    EXPECT_EQ(folder(QStringLiteral("/Vantry/App_2024_05_01_10_20_30")), std::vector<bool>{false});
    EXPECT_EQ(folder(QStringLiteral("/vantry")), std::vector<bool>{true});

    // Other route errors reach onFailure.
    int calls = 0;
    client->createFolder(QStringLiteral("no-slash"), [&](bool) { ++calls; });
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("Dropbox did not create the folder (malformed_path).")});
    EXPECT_EQ(calls, 0);
}

TEST_F(DropBoxClient, AnUnreadableFileIsReportedToAFailureHandlerSetAfterTheCall) {
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

TEST_F(DropBoxClient, UploadFinishCases) {
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes, QStringLiteral("65536"));
    Config::instance().set(ConfigKey::DropboxUploadChunkBytes, QStringLiteral("40000"));
    const QString path = local(QStringLiteral("big.ipa"), pattern(150000));
    folder(QStringLiteral("/Job"));
    // The session is gone when the batch finishes: lookup failed, completion(true).
    emulator->injectFault(QStringLiteral("files/upload_session/finish_batch_v2"), Fault::ExpireSession);
    upload(path, QStringLiteral("/Job/again.ipa"));
    EXPECT_EQ(uploadFlags, std::vector<bool>{true});

    // Any other finish error reaches onFailure.
    EXPECT_TRUE(failures.isEmpty());
    upload(path, QStringLiteral("/Job"));
    EXPECT_EQ(failures,
              QStringList{QStringLiteral("Dropbox did not keep the uploaded file (path/conflict).")});
    EXPECT_TRUE(uploadFlags.empty());
}

TEST_F(DropBoxClient, RetriedPiecesNeverLandAtAWrongOffset) {
    Config::instance().set(ConfigKey::DropboxSingleUploadLimitBytes, QStringLiteral("65536"));
    Config::instance().set(ConfigKey::DropboxUploadChunkBytes, QStringLiteral("4194304"));
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

TEST_F(DropBoxClient, ShareLinksAreDirectAndAnExistingOneIsReused) {
    upload(local(QStringLiteral("App.ipa"), "package bytes"), QStringLiteral("/Job/App.ipa"));
    QStringList links;
    const auto share = [&](const QString& path) {
        client->shareLink(path, [&](const QString& link) { links.append(link); });
    };
    for (int i = 0; i < 3; ++i) {
        // The third answer for the existing link comes without its metadata (the older error form).
        emulator->setOmitExistingLinkMetadata(i == 2);
        share(QStringLiteral("/Job/App.ipa"));
        ASSERT_TRUE(waitUntil([&] { return links.size() == i + 1; }));
    }
    EXPECT_TRUE(links[0].startsWith(emulator->baseUrl() + QStringLiteral("/scl/fi/")))
        << links[0].toStdString();
    EXPECT_TRUE(links[0].contains(QStringLiteral("?rlkey=")) && !links[0].contains(QStringLiteral("dl=")));
    EXPECT_EQ(links, QStringList(3, links[0]));
    EXPECT_EQ(download(links[0]), QByteArray("package bytes"));

    share(QStringLiteral("/Job/missing.ipa"));
    waitForFailures();
    EXPECT_EQ(failures, QStringList{QStringLiteral("path/not_found/..")});
    EXPECT_EQ(links.size(), 3);
}

TEST_F(DropBoxClient, AccountFailuresAreReadable) {
    // Rate limited beyond the retries: a readable text, no raw code.
    emulator->injectFault(QStringLiteral("users/get_current_account"), Fault::TooManyRequests, 10, 0);
    client->getUserData([](const ZUser&) { ADD_FAILURE() << "no user expected"; });
    waitForFailures(1, 20000);
    EXPECT_EQ(failures,
              QStringList{QStringLiteral("Dropbox is receiving too many requests. Try again later.")});
}
} // namespace
