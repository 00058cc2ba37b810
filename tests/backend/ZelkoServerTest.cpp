// The client against a real vantry-server in this process, through Zelko's fixed base URL.
#include "backend/BackendStartup.h"
#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/CrashHandler.h"
#include "server/Database.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using testsupport::waitUntil;

namespace {

class ZelkoServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ServerOptions options;
        options.publicUrl = QStringLiteral("https://get.example.test/");
        s_server = startServer(options).release();
        ASSERT_NE(s_server, nullptr);
        // Before the first use of Zelko, which fixes the base URL for the process.
        Config::instance().set(ConfigKey::BackendBaseUrl, s_server->localUrl());
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        currentUser() = ZUser{QStringLiteral("Bo"), QStringLiteral("bo@x"), QStringLiteral("dbid:bo-1"), {}};
    }
    void TearDown() override { currentUser() = ZUser{}; }
    static void finish() {
        ASSERT_TRUE(waitUntil([] { return HttpConnection::pendingRequests() == 0; }));
    }

    static Zapp app(const QString& id) {
        Zapp z;
        z.appid = id;
        z.appname = QStringLiteral("Demo ") + id;
        z.appMinOS = QStringLiteral("14.0");
        z.qrLink = QStringLiteral("https://files/qr.png");
        z.appurl = QStringLiteral("itms-services://?action=download-manifest&url=https://files/m.plist");
        z.appdate = QStringLiteral("2026/12/06 07:00");
        // The optional profile keys go out, are stored and come back; the Android app has none.
        if (!id.endsWith(QLatin1String("__android"))) {
            z.profileKind = QStringLiteral("ad-hoc");
            z.profileExpiry = QStringLiteral("2026-05-03");
            z.provisionedDevices = QStringLiteral("12");
        }
        return z;
    }

    static inline VantryServer* s_server = nullptr;
};

TEST_F(ZelkoServerTest, EveryEndpointSucceeds) {
    EXPECT_EQ(Zelko::baseURL(), s_server->localUrl());

    bool added = false;
    Zelko::api().addNewUser(currentUser(), [&] { added = true; });
    finish();
    EXPECT_TRUE(added);
    ASSERT_TRUE(s_server->database().user(currentUser().id).has_value());
    EXPECT_EQ(s_server->database().user(currentUser().id)->email, QStringLiteral("bo@x"));

    QStringList links;
    for (const QString& id : {QStringLiteral("AAAAAAAAAA"), QStringLiteral("BBBBBBBBBB__android")})
        Zelko::api().createApp(app(id), [&](const QString& url, const QString&) { links << url; });
    finish();
    links.sort();
    EXPECT_EQ(links,
              (QStringList{"https://get.example.test/AAAAAAAAAA", "https://get.example.test/BBBBBBBBBB"}));

    std::optional<QList<Zapp>> apps;
    Zelko::api().fetchApps(currentUser().id, [&](const QList<Zapp>& a) { apps = a; });
    finish();
    ASSERT_TRUE(apps.has_value());
    ASSERT_EQ(apps->size(), 2);
    for (const Zapp& got : *apps) { // minOS and QRLink must come back under their read keys
        Zapp expected = app(got.appid);
        expected.userid = currentUser().id;
        EXPECT_EQ(got, expected);
    }

    ASSERT_EQ(s_server->database().insertInstall({QStringLiteral("i1"), QStringLiteral("AAAAAAAAAA"),
                                                  QStringLiteral("iOS"), QStringLiteral("Demo"),
                                                  QStringLiteral("Mozilla/5.0 (iPhone)")}),
              Database::Insert::Added);
    std::optional<ZUserData> installs;
    Zelko::api().fetchInstalls(QStringLiteral("AAAAAAAAAA"), [&](const ZUserData& d) { installs = d; });
    finish();
    ASSERT_TRUE(installs.has_value());
    EXPECT_TRUE(installs->isSuccess);
    ASSERT_EQ(installs->response.size(), 1);
    EXPECT_EQ(installs->response[0].useragent, QStringLiteral("Mozilla/5.0 (iPhone)"));
    EXPECT_TRUE(installs->response[0].udid.has_value());

    // Someone else asking for Bo's installs is refused; the refusal is no ZUserData.
    currentUser().id = QStringLiteral("mallory");
    installs.reset();
    Zelko::api().fetchInstalls(QStringLiteral("AAAAAAAAAA"), [&](const ZUserData& d) { installs = d; });
    finish();
    EXPECT_FALSE(installs.has_value());
}

// Each start checks the version, telling only of another one, and sends a stored crash report,
// which goes once the server has it.
TEST_F(ZelkoServerTest, StartupTellsOfAnotherVersionAndSendsAStoredCrashReportOnce) {
    Crash crash;
    crash.name = QStringLiteral("SIGSEGV");
    crash.reason = QStringLiteral("Segmentation fault");
    crash.callStackSymbols = {QStringLiteral("0 vantry 0x1")};
    CrashHandler::storeReport(crash);
    const int before = s_server->database().crashCount().value_or(-1);
    QStringList seen;
    for (const char* running : {"1.0", "1", "0.9"}) {
        QCoreApplication::setApplicationVersion(QString::fromLatin1(running));
        BackendStartup::run([&](const QString& v) { seen << v; });
        finish();
    }
    Zelko::setNewVersionHook({});
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(seen, (QStringList{QStringLiteral("1.0"), QStringLiteral("1.0")}));
    EXPECT_FALSE(CrashHandler::storedReport().has_value());
    EXPECT_EQ(s_server->database().crashCount(), before + 1);
}

} // namespace
