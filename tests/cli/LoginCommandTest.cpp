#include "AuthorizationEmulator.h"
#include "CliSupport.h"
#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "cli/SignInCommands.h"
#include "core/Config.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/AuthorizedCall.h"
#include "storage/zoho/ZohoSignIn.h"
#include "support/SignInBrowser.h"
#include "support/TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

// login, whoami and logout through the command line, against the emulators and a backend in
// this process; the "browser" follows the authorization page to its redirect: the loopback
// listener, or a vantry:// address the desktop would hand to the program.
TEST(LoginCommand, EachBrowserLoginThenWhoamiThenLogout) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("login"));
    ServerOptions options;
    options.dataDir = dir + QStringLiteral("/backend");
    const auto backend = startServer(options);
    ASSERT_TRUE(backend);
    Config::instance().set(ConfigKey::BackendBaseUrl, backend->localUrl());
    DropBoxEmulator dropbox(dir + QStringLiteral("/dropbox"));
    DriveEmulator drive(dir + QStringLiteral("/drive"));
    WorkDriveEmulator workdrive(dir + QStringLiteral("/workdrive"));
    AuthorizationEmulator auth(dir + QStringLiteral("/auth"));
    const QString access = QStringLiteral("sl.cli-access-SECRET-91");
    const QString refresh = QStringLiteral("cli-refresh-SECRET-17");
    for (EmulatorServer* e : std::initializer_list<EmulatorServer*>{&dropbox, &drive, &workdrive, &auth}) {
        ASSERT_TRUE(e->start());
        e->pointConfigHere();
        e->addAccessToken(access); // auth: for the revocation at sign-out
    }
    auth.pointConfigHere(); // the Zoho accounts host is the authorization emulator's
    auth.setTokens(access, refresh);
    ZohoSignIn::setUrlHandlerProbe([] { return true; });
    Config::instance().set(ConfigKey::DropboxRedirectUri,
                           QStringLiteral("http://127.0.0.1:%1/oauth/dropbox").arg(testsupport::freePort()));
    QBuffer input; // nothing is pasted
    input.open(QIODevice::ReadOnly);
    LoginCommand::setInput(&input);
    SignInBrowser browser;

    QList<CliRun> runs;
    for (const char* provider : {"drive", "zoho", "dropbox"}) {
        SCOPED_TRACE(provider);
        const CliRun login = cli({QStringLiteral("login"), QLatin1String(provider)});
        EXPECT_EQ(login.status, 0) << login.err.toStdString();
        EXPECT_TRUE(login.out.contains(browser.lastPage.toString(QUrl::FullyEncoded)));
        const CliRun whoami = cli({QStringLiteral("whoami")});
        EXPECT_EQ(whoami.status, 0) << whoami.err.toStdString();
        EXPECT_TRUE(login.out.endsWith(QStringLiteral("Signed in as ") + whoami.out))
            << login.out.toStdString() << whoami.out.toStdString();
        runs << login << whoami;
    }
    EXPECT_EQ(runs.constLast().out.trimmed(),
              QStringLiteral("Franz Ferdinand (Personal) <franz@example.com> (Dropbox)"));

    EXPECT_EQ(cli({QStringLiteral("logout")}).status, 0);
    EXPECT_EQ(auth.count(QStringLiteral("revoke")), 1);
    const CliRun nobody = cli({QStringLiteral("whoami")});
    EXPECT_EQ(nobody.status, 1);

    for (const CliRun& run : runs + QList<CliRun>{nobody}) {
        EXPECT_FALSE(run.out.contains(access) || run.out.contains(refresh) || run.err.contains(access) ||
                     run.err.contains(refresh));
    }
    EXPECT_EQ(cli({QStringLiteral("login"), QStringLiteral("box")}).status, 2);
    Config::instance().set(ConfigKey::DropboxAppKey, QString());
    const CliRun unconfigured =
        cli({QStringLiteral("login"), QStringLiteral("dropbox"), QStringLiteral("--no-browser")});
    EXPECT_EQ(unconfigured.status, 1);
    EXPECT_TRUE(unconfigured.err.contains(QLatin1String("dropbox/appKey")));
    LoginCommand::setInput(nullptr);
    storageNetwork()->clearConnectionCache();
    Config::instance().reload();
}
