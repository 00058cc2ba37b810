#include "StorageFixture.h"

namespace {
using Fault = WorkDriveEmulator::Fault;
using testsupport::waitUntil;

using WorkDriveClient = WorkDriveFixture;

// Enterprise accounts: four requests, one access token; a broken chain is the operation's one
// ending. Other editions have no private space and their listing fails.
TEST_F(WorkDriveClient, ReadingTheProfileFindsThePrivateSpaceOfEnterpriseAccountsOnly) {
    privateSpaceId().clear();
    int users = 0;
    client->getUserData([&](const ZUser&) { ++users; });
    ASSERT_TRUE(waitUntil([&] { return !privateSpaceId().isEmpty(); }));
    EXPECT_EQ(users, 1);
    EXPECT_EQ(privateSpaceId(), WorkDriveEmulator::privateSpace);
    EXPECT_EQ(emulator->refreshGrants(), 1);

    privateSpaceId().clear();
    emulator->injectFault(Fault::BrokenChain);
    client->getUserData([&](const ZUser&) { ++users; });
    waitForFailures();
    EXPECT_TRUE(privateSpaceId().isEmpty());

    emulator->setEdition(QStringLiteral("TEAM"));
    client->getUserData([&](const ZUser&) { ++users; });
    ASSERT_TRUE(waitUntil([&] { return users == 2; }));
    client->createFolder(QStringLiteral("/Vantry"), [&](bool) { ++users; });
    waitForFailures(2);
    EXPECT_EQ(failures, (QStringList{QStringLiteral("User Data is not formatted"),
                                     QStringLiteral("Get Folder details formats")}));
    EXPECT_EQ(users, 2);
    EXPECT_EQ(emulator->count(QStringLiteral("/api/v1/privatespace//folders")), 1);
}

TEST_F(WorkDriveClient, FolderCases) {
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{false});
    const QString created = currentFolderId();
    EXPECT_EQ(emulator->folder(created),
              std::make_pair(QStringLiteral("Vantry"), WorkDriveEmulator::privateSpace));

    emulator->addFolder(QStringLiteral("Vantry"));
    EXPECT_EQ(folder(QStringLiteral("/Vantry")), std::vector<bool>{false});
    EXPECT_EQ(currentFolderId(), created); // the first in listing order
    EXPECT_EQ(folder(QStringLiteral("/Vantry/Job_1")), std::vector<bool>{false});
    EXPECT_EQ(emulator->folder(currentFolderId()).second, created);

    int calls = 0;
    client->createFolder(QStringLiteral("/a/b/c"), [&](bool) { ++calls; });
    // Answered on every attempt: the retries end in WorkDrive's own message.
    emulator->injectFault(Fault::TechnicalError, AuthorizedCall::maxAttempts);
    client->createFolder(QStringLiteral("/Vantry/Job_2"), [&](bool) { ++calls; });
    waitForFailures(2);
    EXPECT_EQ(failures, (QStringList{QStringLiteral("WorkDrive folders are created one or two levels deep."),
                                     QStringLiteral("Technical error! try again after a min")}));
    EXPECT_EQ(calls, 0);
}

TEST_F(WorkDriveClient, UploadsWithTheUploadHeadersAndLinksTheFileDirectly) {
    currentFolderId() = emulator->addFolder(QStringLiteral("Job"));
    upload(local(QStringLiteral("App beta.ipa"), "bytes"), QStringLiteral("/Vantry/Job/App.beta.ipa"));
    ASSERT_EQ(emulator->uploads().size(), 1);
    const auto sent = emulator->uploads().first();
    EXPECT_EQ(sent.name, QStringLiteral("App.ipa"));
    EXPECT_EQ(sent.parent, currentFolderId());
    const QString uploadId = sent.headers[4].mid(11);
    EXPECT_EQ(uploadId.size(), 21);
    EXPECT_EQ(
        sent.headers.join(QLatin1Char('|')),
        QStringLiteral("x-service: WD|invoker: upload|oauth-scope: files|x-filename: App.ipa|upload-id: %1|"
                       "x-upload-id: %1|x-streammode: 1|x-parent_id: %2|x-override-name-exist: "
                       "false|x-uploadTo: Myfolders")
            .arg(uploadId, currentFolderId()));

    // The link is made from the answer's id, or from the link URL when the answer has none.
    QStringList links;
    client->shareLink(QString(), [&](const QString& link) { links.append(link); });
    emulator->injectFault(Fault::LinkWithoutId);
    client->shareLink(QString(), [&](const QString& link) { links.append(link); });
    ASSERT_TRUE(waitUntil([&] { return links.size() == 2; }));
    for (const QString& link : links) {
        EXPECT_TRUE(link.startsWith(emulator->baseUrl() +
                                    QStringLiteral("/public/workdrive-external/download/") + sent.resourceId +
                                    QStringLiteral("?x-cli-msg=%7B%22linkId%22%3A%22")))
            << link.toStdString();
        EXPECT_EQ(download(link), QByteArray("bytes"));
    }

    // An upload result without the resource: completion(false) and no file to link.
    emulator->injectFault(Fault::NoResourceId);
    upload(local(QStringLiteral("a.ipa"), "a"), QStringLiteral("/Vantry/Job/a.ipa"));
    EXPECT_EQ(uploadFlags, std::vector<bool>{false});
    EXPECT_TRUE(lastUploadedFileId().isEmpty());
    EXPECT_TRUE(failures.isEmpty());
}

// Every operation's answer shapes that WorkDrive could send and the message each one gives.
TEST_F(WorkDriveClient, MalformedAnswersGiveTheirMessages) {
    const struct {
        const char *request, *body, *failure;
    } cases[] = {
        {"GET /api/v1/users/me", R"({"data":[]})", "User Data is not formatted"},
        {"GET /api/v1/privatespace/", "[1]", "Get Folder details format"},
        {"GET /api/v1/privatespace/", R"({"data":{}})", "Get Folder details formats"},
        {"POST /api/v1/files", R"({"data":{"type":"files"}})",
         "Folder creation response data is not formatted"},
        {"POST /api/v1/files", R"({"errors":[{"id":"F000","title":"General exception"}]})",
         "General exception"},
        {"POST /api/v1/files", R"({"errors":[{"id":"F000"}]})",
         "Folder creation response data is not formatted"},
        {"POST /api/v1/files", "{}", "Folder creation response data is not formatted"},
        {"GET /uploadprogress", "[1]", "Upload resource data format."},
        {"POST /api/v1/links", R"({"data":{}})", "share Data is not formatted"},
        {"POST /api/v1/links", R"({"data":{"attributes":{"link":"https://x/"}}})",
         "share Data is not formatted"},
    };
    currentFolderId() = emulator->addFolder(QStringLiteral("Job"));
    const QString file = local(QStringLiteral("a.ipa"), "a");
    int completions = 0;
    const auto completed = [&](auto&&...) { ++completions; };
    for (const auto& c : cases) {
        failures.clear();
        const QString request = QString::fromLatin1(c.request);
        emulator->answerOnce(request, 200, QByteArray(c.body));
        if (request.endsWith(QLatin1String("users/me")))
            client->getUserData(completed);
        else if (request.contains(QLatin1String("privatespace")))
            client->createFolder(QStringLiteral("/Vantry"), completed);
        else if (request.endsWith(QLatin1String("files")))
            client->createFolder(QStringLiteral("/Vantry/Job_x"), completed);
        else if (request.contains(QLatin1String("uploadprogress")))
            client->uploadFile(file, QStringLiteral("/Vantry/Job/a.ipa"), completed, {});
        else
            client->shareLink(QString(), completed);
        ASSERT_TRUE(waitUntil([&] { return !failures.isEmpty(); })) << c.request << " " << c.body;
        EXPECT_EQ(failures.join(QLatin1Char('|')).toStdString(), c.failure) << c.request << " " << c.body;
    }
    EXPECT_EQ(completions, 0);
}

TEST(ZohoAuthentication, TokenAnswers) {
    ZohoAuthentication::resetAccessToken();
    EXPECT_EQ(
        ZohoAuthentication::handleTokenResponse(R"({"access_token":"1000.a","refresh_token":"1000.r2"})"),
        QStringLiteral("1000.a"));
    EXPECT_EQ(KeychainHelper().read(ZohoAuthentication::refreshTokenService), QStringLiteral("1000.r2"));
    EXPECT_EQ(ZohoAuthentication::handleTokenResponse(R"({"error":"invalid_code"})"),
              QStringLiteral("1000.a"));
    EXPECT_FALSE(ZohoAuthentication::handleTokenResponse("[1]").has_value());
    EXPECT_FALSE(ZohoAuthentication::handleTokenResponse("not json").has_value());
    Config::instance().set(ConfigKey::ZohoAccountsUrl, QStringLiteral("https://accounts.zoho.eu"));
    Config::instance().set(ConfigKey::ZohoClientId, QStringLiteral("1000.ID"));
    Config::instance().set(ConfigKey::ZohoClientSecret, QStringLiteral("s3"));
    EXPECT_EQ(ZohoAuthentication::refreshURL(QStringLiteral("1000.r")).toString(),
              QStringLiteral("https://accounts.zoho.eu/oauth/v2/"
                             "token?refresh_token=1000.r&grant_type=refresh_token&client_id=1000.ID"
                             "&redirect_uri=Vantry://zohoCallback&scope=") +
                  ZohoAuthentication::scopes + QStringLiteral("&client_secret=s3"));
    Config::instance().reload();
}

} // namespace
