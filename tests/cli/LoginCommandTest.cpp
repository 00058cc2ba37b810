#include "CliSupport.h"
#include "cli/SignInCommands.h"
#include "core/Config.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "storage/AuthorizedCall.h"
#include "support/SignInBrowser.h"
#include "support/TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

// login, whoami and logout through the command line, against the emulators and a backend in
// this process; the "browser" follows the authorization page to the loopback listener. The
// providers' own flows: SignIn in tests/session. Publishing after a self-hosted login needs nothing
// else: the stored credentials are read (SelfHostedCredentialsTest) by the chosen provider
// (ProviderChoice).
TEST(LoginCommand, BrowserLoginThenWhoamiThenLogout) {
    SignInEmulators emulators;
    ServerOptions options;
    options.dataDir = emulators.dir + QStringLiteral("/backend");
    const auto backend = startServer(options);
    ASSERT_TRUE(backend);
    Config::instance().set(ConfigKey::BackendBaseUrl, backend->localUrl());
    const QString access = QStringLiteral("sl.cli-access-SECRET-91");
    const QString refresh = QStringLiteral("cli-refresh-SECRET-17");
    ASSERT_TRUE(emulators.start(access, refresh));
    Config::instance().set(ConfigKey::DropboxRedirectUri,
                           QStringLiteral("http://127.0.0.1:%1/oauth/dropbox").arg(testsupport::freePort()));
    QBuffer input; // nothing is pasted
    input.open(QIODevice::ReadOnly);
    LoginCommand::setInput(&input);

    const CliRun login = cli({QStringLiteral("login"), QStringLiteral("dropbox")});
    EXPECT_EQ(login.status, 0) << login.err.toStdString();
    EXPECT_TRUE(login.out.contains(emulators.browser.lastPage.toString(QUrl::FullyEncoded)));
    const CliRun whoami = cli({QStringLiteral("whoami")});
    EXPECT_EQ(whoami.status, 0) << whoami.err.toStdString();
    EXPECT_EQ(whoami.out.trimmed(),
              QStringLiteral("Franz Ferdinand (Personal) <franz@example.com> (Dropbox)"));
    EXPECT_TRUE(login.out.endsWith(QStringLiteral("Signed in as ") + whoami.out)) << login.out.toStdString();
    EXPECT_EQ(cli({QStringLiteral("logout")}).status, 0);
    EXPECT_EQ(emulators.auth.count(QStringLiteral("revoke")), 1);
    const CliRun nobody = cli({QStringLiteral("whoami")});
    EXPECT_EQ(nobody.status, 1);
    for (const CliRun& run : {login, whoami, nobody})
        EXPECT_FALSE((run.out + run.err).contains(access) || (run.out + run.err).contains(refresh));

    // A self-hosted server takes its token on standard input, off the command line and the output;
    // without one there is nothing to sign in with.
    const CliRun none =
        cli({QStringLiteral("login"), QStringLiteral("self"), QStringLiteral("http://192.0.2.1/")});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.err.contains(QLatin1String("storage token"))) << none.err.toStdString();
    QBuffer token;
    token.setData(backend->storageToken().toUtf8() + "\n");
    token.open(QIODevice::ReadOnly);
    LoginCommand::setInput(&token);
    const CliRun self = cli({QStringLiteral("login"), QStringLiteral("self"), backend->localUrl()});
    EXPECT_EQ(self.status, 0) << self.err.toStdString();
    EXPECT_FALSE((self.out + self.err).contains(backend->storageToken()));
    EXPECT_TRUE(cli({QStringLiteral("whoami")}).out.endsWith(QLatin1String(" (self-hosted)\n")));
    EXPECT_EQ(cli({QStringLiteral("logout")}).status, 0);
    LoginCommand::setInput(nullptr);
    storageNetwork()->clearConnectionCache();

    // Every provider's names reach its own flow, which names its missing client identifier.
    EXPECT_EQ(cli({QStringLiteral("login"), QStringLiteral("box")}).status, 2);
    const std::pair<const char*, ConfigKey> names[] = {{"dropbox", ConfigKey::DropboxAppKey},
                                                       {"drive", ConfigKey::GoogleClientId},
                                                       {"google", ConfigKey::GoogleClientId},
                                                       {"zoho", ConfigKey::ZohoClientId},
                                                       {"workdrive", ConfigKey::ZohoClientId}};
    for (const auto& [name, key] : names) {
        Config::instance().set(key, QString());
        const CliRun run =
            cli({QStringLiteral("login"), QLatin1String(name), QStringLiteral("--no-browser")});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_TRUE(run.err.contains(Config::name(key))) << run.err.toStdString();
    }
    Config::instance().reload();
}
