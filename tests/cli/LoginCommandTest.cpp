#include "AuthorizationEmulator.h"
#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "cli/Command.h"
#include "cli/SignInCommands.h"
#include "core/Config.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/UrlRouter.h"
#include "storage/AuthorizedCall.h"
#include "storage/BrowserSignIn.h"
#include "storage/zoho/ZohoSignIn.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <gtest/gtest.h>

namespace {
struct CliResult {
    int status = -1;
    QString out, err;
};

CliResult cli(QStringList args) {
    CliResult run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    args.prepend(QStringLiteral("vantry-cli"));
    run.status = runCli(args, out, err);
    return run;
}
} // namespace

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
    QUrl opened;
    BrowserSignIn::setPageOpener([&opened](const QUrl& url) {
        opened = url;
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = storageNetwork()->get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply] {
            reply->deleteLater();
            const QUrl location(QString::fromUtf8(reply->rawHeader("Location")));
            if (location.scheme() == QLatin1String("http"))
                storageNetwork()->get(QNetworkRequest(location));
            else
                routeURL(location.toString());
        });
        return true;
    });

    QList<CliResult> runs;
    for (const char* provider : {"drive", "zoho", "dropbox"}) {
        SCOPED_TRACE(provider);
        const CliResult login = cli({QStringLiteral("login"), QLatin1String(provider)});
        EXPECT_EQ(login.status, 0) << login.err.toStdString();
        EXPECT_TRUE(login.out.contains(opened.toString(QUrl::FullyEncoded)));
        const CliResult whoami = cli({QStringLiteral("whoami")});
        EXPECT_EQ(whoami.status, 0) << whoami.err.toStdString();
        EXPECT_TRUE(login.out.endsWith(QStringLiteral("Signed in as ") + whoami.out))
            << login.out.toStdString() << whoami.out.toStdString();
        runs << login << whoami;
    }
    EXPECT_EQ(runs.constLast().out.trimmed(),
              QStringLiteral("Franz Ferdinand (Personal) <franz@example.com> (Dropbox)"));

    EXPECT_EQ(cli({QStringLiteral("logout")}).status, 0);
    EXPECT_EQ(auth.count(QStringLiteral("revoke")), 1);
    const CliResult nobody = cli({QStringLiteral("whoami")});
    EXPECT_EQ(nobody.status, 1);

    for (const CliResult& run : runs + QList<CliResult>{nobody}) {
        EXPECT_FALSE(run.out.contains(access) || run.out.contains(refresh) || run.err.contains(access) ||
                     run.err.contains(refresh));
    }
    EXPECT_EQ(cli({QStringLiteral("login"), QStringLiteral("box")}).status, 2);
    Config::instance().set(ConfigKey::DropboxAppKey, QString());
    const CliResult unconfigured =
        cli({QStringLiteral("login"), QStringLiteral("dropbox"), QStringLiteral("--no-browser")});
    EXPECT_EQ(unconfigured.status, 1);
    EXPECT_TRUE(unconfigured.err.contains(QLatin1String("dropbox/appKey")));
    LoginCommand::setInput(nullptr);
    storageNetwork()->clearConnectionCache();
    Config::instance().reload();
}
