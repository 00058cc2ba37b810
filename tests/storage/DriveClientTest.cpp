#include "StorageFixture.h"

namespace {
using Fault = DriveEmulator::Fault;
using testsupport::waitUntil;
using DriveClient = DriveFixture;

TEST_F(DriveClient, ReusesTheFirstVantryFolderAndSkipsFilesTrashAndOtherNames) {
    emulator->addItem(QStringLiteral("Vantry"), false);
    emulator->addItem(QStringLiteral("Other"), true);
    emulator->trash(emulator->addItem(QStringLiteral("Vantry"), true));
    const QString first = emulator->addItem(QStringLiteral("Vantry"), true);
    emulator->addItem(QStringLiteral("Vantry"), true);
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{true});
    EXPECT_EQ(currentFolderId(), first);
    EXPECT_EQ(emulator->count(QStringLiteral("create")), 0);
    // A refused job folder leaves the upload in the application folder.
    emulator->injectFault(QStringLiteral("create"), Fault::Forbidden);
    EXPECT_EQ(folder(QStringLiteral("/Vantry/Refused")), std::vector<bool>{false});
    EXPECT_EQ(currentFolderId(), first);
    // The job folder goes inside it.
    EXPECT_EQ(folder(QStringLiteral("/Vantry/App_2024_05_01_10_20_30")), std::vector<bool>{false});
    const auto job = emulator->item(currentFolderId());
    ASSERT_TRUE(job);
    EXPECT_EQ(
        QStringList({job->name, job->parent, job->mimeType}),
        QStringList({QStringLiteral("App_2024_05_01_10_20_30"), first, DriveClientManager::folderMimeType}));
}

// A file above the virus-scan limit: the link must skip the warning page a phone would get.
TEST_F(DriveClient, UploadsUnderTheRemoteNameAndLinksTheFileDirectly) {
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{true});
    const auto app = emulator->item(currentFolderId());
    ASSERT_TRUE(app); // made at the top
    EXPECT_EQ(QStringList({app->name, app->parent, app->mimeType}),
              QStringList({QStringLiteral("Vantry"), {}, DriveClientManager::folderMimeType}));
    folder(QStringLiteral("/Vantry/Job"));
    const QString job = currentFolderId();
    const QByteArray bytes = pattern(5000);
    emulator->injectFault(QStringLiteral("chunk"), Fault::ExpireSession); // a new session takes over
    upload(local(QStringLiteral("a.ipa"), bytes), QStringLiteral("/Vantry/Job/My App.ipa"));
    EXPECT_EQ(emulator->count(QStringLiteral("upload")), 2);
    const auto file = emulator->item(lastUploadedFileId());
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(QStringList({file->name, file->parent, file->mimeType}),
              QStringList({QStringLiteral("My App.ipa"), job, QStringLiteral("binary/octet-stream")}));

    QStringList links;
    const auto share = [&] {
        client->shareLink(QString(), [&](const QString& link) { links.append(link); });
    };
    share();
    ASSERT_TRUE(waitUntil([&] { return !links.isEmpty(); }));
    EXPECT_EQ(links[0], emulator->baseUrl() +
                            QStringLiteral("/download?id=%1&export=download&confirm=t").arg(file->id));
    EXPECT_EQ(download(links[0]), bytes);
    EXPECT_TRUE(download(QString(links[0]).remove(QStringLiteral("&confirm=t"))).startsWith("<html>"));

    // Permission refused, or a link that does not serve the bytes: onFailure, no link.
    emulator->injectFault(QStringLiteral("permission"), Fault::Forbidden);
    share();
    waitForFailures(1);
    emulator->injectFault(QStringLiteral("download"), Fault::ServerError);
    share();
    waitForFailures(2);
    EXPECT_EQ(failures,
              (QStringList{QStringLiteral("The user's Drive storage quota has been exceeded."),
                           QStringLiteral("Google Drive does not serve the file from its public link.")}));
    EXPECT_EQ(links.size(), 1);
    failures.clear();

    // Upload refused: completion(true), the last file identifier stays.
    const QString last = lastUploadedFileId();
    emulator->injectFault(QStringLiteral("upload"), Fault::Forbidden);
    upload(local(QStringLiteral("b.ipa"), "b"), QStringLiteral("/Vantry/Job/b.ipa"));
    EXPECT_EQ(uploadFlags, std::vector<bool>{true});
    EXPECT_EQ(lastUploadedFileId(), last);
    EXPECT_TRUE(failures.isEmpty());
}

} // namespace
