#include "DriveEmulator.h"
#include "WorkDriveEmulator.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/SignInSession.h"
#include "session/SignInState.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoSignIn.h"
#include "support/SignInBrowser.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
const QString accessToken = QStringLiteral("emu-access-SECRET-5f2c9a");
const QString refreshToken = QStringLiteral("emu-refresh-SECRET-77b1e0");
const QStringList services{QStringLiteral("GTMAuthorization_Vantry_app"), QStringLiteral("dropbox_auth"),
                           QStringLiteral("zoho_re_to"), QStringLiteral("vantry_selfhosted")};
const QStringList flags{QStringLiteral("isDrive"), QStringLiteral("isDropBox"), QStringLiteral("isZoho"),
                        QStringLiteral("isSelfHosted")};

// The stored credentials under any service name, service → value.
QJsonObject storedCredentials() {
    QJsonObject out;
    const QByteArray file = testsupport::readFile(KeychainHelper::fallbackFilePath());
    for (const QString& service : QJsonDocument::fromJson(file).object().keys()) {
        if (const QString value = KeychainHelper().read(service).value_or(QString()); !value.isEmpty())
            out.insert(service, value);
    }
    return out;
}

QStringList setFlags() {
    QStringList out;
    for (const QString& flag : flags) {
        if (Preferences::flag(flag))
            out.append(flag);
    }
    return out;
}

VantryServer& backend() {
    static std::unique_ptr<VantryServer> server = [] { return startServer(); }();
    return *server;
}
} // namespace

class SignIn : public ::testing::Test, protected SignInEmulators {
protected:
    void SetUp() override {
        Config::instance().set(ConfigKey::BackendBaseUrl, backend().localUrl());
        ASSERT_TRUE(start(accessToken, refreshToken, {&drive, &workdrive}));
        forgetSignIns();
        ZohoSignIn::setUrlHandlerProbe([] { return true; });
    }
    // No stored credential, no provider flag, no Zoho access token.
    static void forgetSignIns() {
        QFile::remove(KeychainHelper::fallbackFilePath());
        for (const QString& flag : flags)
            Preferences::setFlag(flag, false);
        ZohoAuthentication::resetAccessToken();
    }

    void TearDown() override {
        for (const QString& line : log.lines()) {
            EXPECT_FALSE(line.contains(accessToken) || line.contains(refreshToken)) << line.toStdString();
        }
        storageNetwork()->clearConnectionCache();
        Config::instance().reload();
    }

    struct Ending {
        std::optional<ZUser> user;
        std::optional<SignInResult> result;
    };
    // Runs begin() and waits for the sign-in to end (or, expectEnd false, to stand still waiting).
    Ending await(const std::function<void()>& begin, bool expectEnd = true) {
        Ending ending;
        QObject::connect(&session, &SignInSession::signedIn, &session,
                         [&ending](const ZUser& user, SignedInProvider) { ending.user = user; });
        QObject::connect(&session, &SignInSession::signInEnded, &session,
                         [&ending](const SignInResult& r) { ending.result = r; });
        begin();
        const auto ended = [&] { return ending.user || ending.result; };
        if (expectEnd)
            EXPECT_TRUE(testsupport::waitUntil(ended, 20000));
        else
            EXPECT_FALSE(testsupport::waitUntil(ended, 1500));
        session.disconnect();
        return ending;
    }
    // A provider's sign-in in the browser.
    Ending signIn(SignedInProvider provider, bool expectEnd = true) {
        return await([&] { session.startBrowserSignIn(provider); }, expectEnd);
    }

    testsupport::LogCapture log;
    SignInSession session;
    DriveEmulator drive{dir + QStringLiteral("/drive")};
    WorkDriveEmulator workdrive{dir + QStringLiteral("/workdrive")};
};

TEST_F(SignIn, EachProviderSignsInEndToEndStoringOneCredentialAndSettingOneFlag) {
    const struct {
        const char* name;
        SignedInProvider provider;
        int index;                   // into services and flags
        bool noRefreshToken = false; // the token answer has none: Zoho then keeps nothing
    } cases[] = {
        {"drive", SignedInProvider::Drive, 0},
        {"zoho", SignedInProvider::Zoho, 2},
        {"zoho without a refresh token", SignedInProvider::Zoho, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString& service = services[c.index];
        forgetSignIns();
        auth.omitRefreshToken = c.noRefreshToken;
        const Ending ending = signIn(c.provider);
        ASSERT_TRUE(ending.user) << (ending.result ? ending.result->message.toStdString() : "");
        EXPECT_FALSE(ending.user->id.isEmpty());
        EXPECT_EQ(currentUser().id, ending.user->id);
        EXPECT_EQ(setFlags(), QStringList{flags[c.index]});
        const QJsonObject stored = storedCredentials();
        if (c.noRefreshToken) { // and the next start shows the sign-in screen
            EXPECT_TRUE(stored.isEmpty());
            EXPECT_EQ(restoreSignIn(), SignedInProvider::None);
            continue;
        }
        EXPECT_EQ(stored.keys(), QStringList{service});
        if (c.provider == SignedInProvider::Zoho) {
            EXPECT_EQ(stored.value(service).toString(), refreshToken);
        } else {
            const QJsonObject form =
                QJsonDocument::fromJson(stored.value(service).toString().toUtf8()).object();
            EXPECT_EQ(form.value(QStringLiteral("access_token")).toString(), accessToken);
            EXPECT_EQ(form.value(QStringLiteral("refresh_token")).toString(), refreshToken);
            EXPECT_GT(form.value(QStringLiteral("expires_at")).toDouble(), 0);
        }
        EXPECT_EQ(restoreSignIn(), c.provider);
    }
}

TEST_F(SignIn, RefusedAnswersEndAsTheyShouldAndStoreNothing) {
    enum Fault { WrongState, WrongVerifier, Denied, ClosedBrowser };
    using P = SignedInProvider;
    // Zoho: a refused code leaves the flow waiting; the user then cancels. Dropbox checks the state
    // and waits on a closed browser in the flow it shares with Drive.
    const std::pair<P, Fault> cases[] = {
        {P::Drive, WrongState},      {P::Drive, WrongVerifier}, {P::Drive, Denied}, {P::Drive, ClosedBrowser},
        {P::Dropbox, WrongVerifier}, {P::Dropbox, Denied},      {P::Zoho, Denied},  {P::Zoho, ClosedBrowser}};
    Config::instance().set(ConfigKey::DropboxRedirectUri,
                           QStringLiteral("http://127.0.0.1:%1/").arg(testsupport::freePort()));
    for (const auto& [provider, fault] : cases) {
        SCOPED_TRACE(providerLabel(provider).toStdString() + " fault " + std::to_string(fault));
        auth.forgeState = fault == WrongState;
        auth.rejectVerifier = fault == WrongVerifier;
        auth.deny = fault == Denied;
        browser.closed = fault == ClosedBrowser;
        const bool waits = fault == ClosedBrowser || provider == P::Zoho;
        Ending ending = signIn(provider, !waits);
        if (waits) {
            ASSERT_TRUE(session.flow() && session.flow()->isWaiting());
            ending = await([&] { session.cancel(); });
        }
        ASSERT_TRUE(ending.result);
        EXPECT_EQ(ending.result->outcome,
                  fault <= WrongVerifier ? SignInResult::Outcome::Failed : SignInResult::Outcome::Cancelled)
            << ending.result->message.toStdString();
        EXPECT_FALSE(ending.user);
        EXPECT_TRUE(storedCredentials().isEmpty());
        EXPECT_TRUE(setFlags().isEmpty());
    }
    EXPECT_EQ(auth.codeExchanges(), 0);
}

TEST_F(SignIn, ZohoSendsItsQueryStringsExactlyWithTheLatestState) {
    const QString scopes = ZohoAuthentication::scopes;
    // The query's middle part, with the state of the latest press.
    const auto common = [&] {
        return QStringLiteral("client_id=") + AuthorizationEmulator::zohoClientId +
               QStringLiteral("&redirect_uri=Vantry://zohoCallback&scope=") + scopes +
               QStringLiteral("&state=") + ZohoAuthentication::oauthState();
    };
    const auto exchange = [&](const QString& code) {
        return QStringLiteral("grant_type=authorization_code&") +
               common().replace(QStringLiteral("&redirect_uri"), "&code=" + code + "&redirect_uri") +
               QStringLiteral("&client_secret=") + AuthorizationEmulator::zohoSecret;
    };
    auth.deny = true;
    signIn(SignedInProvider::Zoho, false);
    const QString firstState = ZohoAuthentication::oauthState();
    session.cancel();
    auth.deny = false;
    // The exchange must carry the state of the second press, not the first.
    BrowserSignIn::setPageOpener([&](const QUrl& url) {
        auth.setExpectedZohoExchange(exchange(QStringLiteral("CODE")));
        return browser.open(url);
    });
    signIn(SignedInProvider::Zoho, false);
    EXPECT_NE(ZohoAuthentication::oauthState(), firstState);
    EXPECT_EQ(auth.lastAuthorizeQuery(), QStringLiteral("response_type=code&") + common() +
                                             QStringLiteral("&prompt=consent&access_type=offline"));
    // The emulator's code is random; compare everything but it.
    QString sent = auth.lastZohoTokenQuery();
    sent.replace(QRegularExpression(QStringLiteral("code=emu-code-[a-z0-9]+")), QStringLiteral("code=CODE"));
    EXPECT_EQ(sent, exchange(QStringLiteral("CODE")));
    EXPECT_TRUE(scopes.startsWith(QLatin1String("ZohoPC.files.All,")));
    EXPECT_EQ(scopes.count(QLatin1String("ZohoPC.files.All")), 2);
}

// Against vantry-server: a wrong token is refused; without one, the local server's token file is read.
TEST_F(SignIn, SelfHostedReadsTheLocalServersTokenAndRefusesAWrongOne) {
    ServerOptions options;
    options.ownerEmail = QStringLiteral("ada@example.com");
    const auto server = startServer(options);
    ASSERT_TRUE(server);
    testsupport::writeFile(SelfHostedSignIn::localServerTokenPath(), server->storageToken().toUtf8() + "\n");
    const QString url = server->localUrl().chopped(1); // stored with its final slash
    for (const bool right : {false, true}) {
        SCOPED_TRACE(right ? "token read from the local server" : "wrong token");
        const Ending ending =
            await([&] { session.startSelfHosted(url, right ? QString() : QStringLiteral("guess")); });
        EXPECT_EQ(bool(ending.user), right);
        if (!right) {
            EXPECT_TRUE(storedCredentials().isEmpty());
            EXPECT_TRUE(setFlags().isEmpty());
            continue;
        }
        EXPECT_EQ(ending.user->email, QStringLiteral("ada@example.com"));
        EXPECT_EQ(setFlags(), QStringList{QStringLiteral("isSelfHosted")});
        const QJsonObject stored =
            QJsonDocument::fromJson(storedCredentials().value(services[3]).toString().toUtf8()).object();
        EXPECT_EQ(stored.value(QStringLiteral("url")).toString(), server->localUrl());
        EXPECT_EQ(stored.value(QStringLiteral("token")).toString(), server->storageToken());
        EXPECT_EQ(restoreSignIn(), SignedInProvider::SelfHosted);
    }
    for (const QString& line : log.lines())
        EXPECT_FALSE(line.contains(server->storageToken())) << line.toStdString();
}
