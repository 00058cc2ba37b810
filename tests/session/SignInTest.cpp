#include "AuthorizationEmulator.h"
#include "DriveEmulator.h"
#include "DropBoxEmulator.h"
#include "WorkDriveEmulator.h"
#include "core/Config.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "session/SignInSession.h"
#include "session/SignInState.h"
#include "session/UrlRouter.h"
#include "storage/AuthorizedCall.h"
#include "storage/KeychainHelper.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "storage/zoho/ZohoSignIn.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

namespace {
const QString accessToken = QStringLiteral("emu-access-SECRET-5f2c9a");
const QString refreshToken = QStringLiteral("emu-refresh-SECRET-77b1e0");
const QStringList services{QStringLiteral("GTMAuthorization_Vantry_app"), QStringLiteral("dropbox_auth"),
                           QStringLiteral("zoho_re_to"), QStringLiteral("vantry_selfhosted")};
const QStringList flags{QStringLiteral("isDrive"), QStringLiteral("isDropBox"), QStringLiteral("isZoho"),
                        QStringLiteral("isSelfHosted")};

// What the user's browser does with an authorization page: follow it to the redirect, which is
// the loopback listener, a vantry:// URL the desktop hands to the application, or a page that
// shows the code to paste.
struct Browser {
    bool closed = false; // the user closed it without answering
    QString shownCode;

    bool open(const QUrl& url) {
        if (closed)
            return true;
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = storageNetwork()->get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            const QUrl location(QString::fromUtf8(reply->rawHeader("Location")));
            const QByteArray body = reply->readAll();
            if (location.scheme() == QLatin1String("http"))
                storageNetwork()->get(QNetworkRequest(location));
            else if (!location.isEmpty())
                routeURL(location.toString());
            else
                shownCode = QRegularExpression(QStringLiteral("<code>([^<]*)</code>"))
                                .match(QString::fromUtf8(body))
                                .captured(1);
        });
        return true;
    }
};

// The stored credentials, service → value, read from the owner-only file the tests use.
QJsonObject storedCredentials() {
    QFile file(KeychainHelper::fallbackFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonObject out;
    const QJsonObject all = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QString value = it.value().toObject().value(KeychainHelper::accountName).toString();
        if (!value.isEmpty())
            out.insert(it.key(), value);
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

class SignIn : public ::testing::Test {
protected:
    void SetUp() override {
        Config::instance().set(ConfigKey::BackendBaseUrl, backend().localUrl());
        const QString dir = testsupport::makeTempDir(QStringLiteral("signin"));
        dropbox = std::make_unique<DropBoxEmulator>(dir + QStringLiteral("/dropbox"));
        drive = std::make_unique<DriveEmulator>(dir + QStringLiteral("/drive"));
        workdrive = std::make_unique<WorkDriveEmulator>(dir + QStringLiteral("/workdrive"));
        auth = std::make_unique<AuthorizationEmulator>(dir + QStringLiteral("/auth"));
        for (EmulatorServer* e : std::initializer_list<EmulatorServer*>{dropbox.get(), drive.get(),
                                                                        workdrive.get(), auth.get()}) {
            ASSERT_TRUE(e->start());
            e->pointConfigHere();
            e->addAccessToken(accessToken);
        }
        auth->pointConfigHere(); // the Zoho accounts host is the authorization emulator's
        auth->setTokens(accessToken, refreshToken);
        QFile::remove(KeychainHelper::fallbackFilePath());
        for (const QString& flag : flags)
            Preferences::setFlag(flag, false);
        ZohoAuthentication::resetAccessToken();
        ZohoSignIn::setUrlHandlerProbe([] { return true; });
        BrowserSignIn::setPageOpener([this](const QUrl& url) { return browser.open(url); });
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
        QStringList notices;
    };
    // Starts provider's sign-in and waits for it to end (or for it to stand still waiting).
    Ending signIn(SignedInProvider provider, bool expectEnd = true) {
        Ending ending;
        QObject::connect(&session, &SignInSession::signedIn, &session,
                         [&ending](const ZUser& user, SignedInProvider) { ending.user = user; });
        QObject::connect(&session, &SignInSession::signInEnded, &session,
                         [&ending](const SignInResult& r) { ending.result = r; });
        QObject::connect(&session, &SignInSession::notice, &session,
                         [&ending](const QString& text) { ending.notices.append(text); });
        BrowserSignIn* flow = session.startBrowserSignIn(provider);
        const auto ended = [&] { return ending.user || ending.result; };
        if (flow && flow->isWaiting() && flow->needsPastedCode() && provider == SignedInProvider::Dropbox) {
            EXPECT_TRUE(testsupport::waitUntil([&] { return !browser.shownCode.isEmpty(); }));
            flow->submitPasted(QStringLiteral("  ") + browser.shownCode + QStringLiteral("\n"));
        }
        if (expectEnd)
            EXPECT_TRUE(testsupport::waitUntil(ended, 20000));
        else
            EXPECT_FALSE(testsupport::waitUntil(ended, 1500));
        session.disconnect();
        return ending;
    }

    testsupport::LogCapture log;
    Browser browser;
    SignInSession session;
    std::unique_ptr<DropBoxEmulator> dropbox;
    std::unique_ptr<DriveEmulator> drive;
    std::unique_ptr<WorkDriveEmulator> workdrive;
    std::unique_ptr<AuthorizationEmulator> auth;
};

TEST_F(SignIn, EachProviderSignsInEndToEndStoringOneCredentialAndSettingOneFlag) {
    const quint16 dropboxPort = testsupport::freePort();
    struct Case {
        const char* name;
        SignedInProvider provider;
        QString redirectUri; // dropbox/redirectUri
        QString service, flag, email;
    } cases[] = {
        {"drive", SignedInProvider::Drive, {}, services[0], flags[0], {}},
        {"dropbox loopback", SignedInProvider::Dropbox,
         QStringLiteral("http://127.0.0.1:%1/oauth/dropbox").arg(dropboxPort), services[1], flags[1],
         QStringLiteral("franz@example.com")},
        {"dropbox pasted code",
         SignedInProvider::Dropbox,
         {},
         services[1],
         flags[1],
         QStringLiteral("franz@example.com")},
        {"zoho", SignedInProvider::Zoho, {}, services[2], flags[2], {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(KeychainHelper::fallbackFilePath());
        for (const QString& flag : flags)
            Preferences::setFlag(flag, false);
        ZohoAuthentication::resetAccessToken();
        Config::instance().set(ConfigKey::DropboxRedirectUri, c.redirectUri);
        const Ending ending = signIn(c.provider);
        ASSERT_TRUE(ending.user) << (ending.result ? ending.result->message.toStdString() : "");
        EXPECT_FALSE(ending.user->id.isEmpty());
        if (!c.email.isEmpty()) {
            EXPECT_EQ(ending.user->email, c.email);
        }
        EXPECT_EQ(currentUser().id, ending.user->id);
        EXPECT_EQ(setFlags(), QStringList{c.flag});
        const QJsonObject stored = storedCredentials();
        EXPECT_EQ(stored.keys(), QStringList{c.service});
        if (c.provider == SignedInProvider::Zoho) {
            EXPECT_EQ(stored.value(c.service).toString(), refreshToken);
        } else {
            const QJsonObject form =
                QJsonDocument::fromJson(stored.value(c.service).toString().toUtf8()).object();
            EXPECT_EQ(form.value(QStringLiteral("access_token")).toString(), accessToken);
            EXPECT_EQ(form.value(QStringLiteral("refresh_token")).toString(), refreshToken);
            EXPECT_GT(form.value(QStringLiteral("expires_at")).toDouble(), 0);
        }
        EXPECT_EQ(restoreSignIn(), c.provider);
    }
}

TEST_F(SignIn, RefusedAnswersEndAsTheyShouldAndStoreNothing) {
    enum Fault { WrongState, WrongVerifier, Denied, ClosedBrowser };
    using O = SignInResult::Outcome;
    struct Case {
        SignedInProvider provider;
        Fault fault;
        O outcome;
        const char* logLine; // expected in the diagnostic log, or empty
    } cases[] = {
        {SignedInProvider::Drive, WrongState, O::Failed, ""},
        {SignedInProvider::Drive, WrongVerifier, O::Failed, "Google sign-in failed: HTTP 400 invalid_grant"},
        {SignedInProvider::Drive, Denied, O::Cancelled, ""},
        {SignedInProvider::Drive, ClosedBrowser, O::Cancelled, ""},
        {SignedInProvider::Dropbox, WrongState, O::Failed, "Error: "},
        {SignedInProvider::Dropbox, WrongVerifier, O::Failed, "Error: code or verifier is wrong"},
        {SignedInProvider::Dropbox, Denied, O::Cancelled,
         "Authorization flow was manually canceled by user!"},
        {SignedInProvider::Dropbox, ClosedBrowser, O::Cancelled,
         "Authorization flow was manually canceled by user!"},
        // Zoho: a refused code leaves the flow waiting; the user then cancels.
        {SignedInProvider::Zoho, Denied, O::Cancelled, ""},
        {SignedInProvider::Zoho, ClosedBrowser, O::Cancelled, ""},
    };
    Config::instance().set(ConfigKey::DropboxRedirectUri,
                           QStringLiteral("http://127.0.0.1:%1/").arg(testsupport::freePort()));
    for (const Case& c : cases) {
        SCOPED_TRACE(providerLabel(c.provider).toStdString() + " fault " + std::to_string(c.fault));
        auth->setForgeState(c.fault == WrongState);
        auth->setRejectVerifier(c.fault == WrongVerifier);
        auth->setDeny(c.fault == Denied);
        browser.closed = c.fault == ClosedBrowser;
        const bool waits = c.fault == ClosedBrowser || c.provider == SignedInProvider::Zoho;
        Ending ending = signIn(c.provider, !waits);
        if (waits) {
            ASSERT_TRUE(session.flow() && session.flow()->isWaiting());
            QObject::connect(&session, &SignInSession::signInEnded, &session,
                             [&ending](const SignInResult& r) { ending.result = r; });
            session.cancel();
            session.disconnect();
        }
        ASSERT_TRUE(ending.result);
        EXPECT_EQ(ending.result->outcome, c.outcome) << ending.result->message.toStdString();
        EXPECT_FALSE(ending.user);
        if (*c.logLine) {
            EXPECT_TRUE(log.joined().contains(QLatin1String(c.logLine))) << log.joined().toStdString();
        }
        EXPECT_TRUE(storedCredentials().isEmpty());
        EXPECT_TRUE(setFlags().isEmpty());
    }
    EXPECT_EQ(auth->codeExchanges(), 0);
}

TEST_F(SignIn, TokenAnswerWithoutRefreshTokenSignsInButKeepsNothingForZoho) {
    auth->setOmitRefreshToken(true);
    const Ending zoho = signIn(SignedInProvider::Zoho);
    ASSERT_TRUE(zoho.user);
    EXPECT_EQ(setFlags(), QStringList{QStringLiteral("isZoho")});
    EXPECT_TRUE(storedCredentials().isEmpty());
    // Next start: no refresh token, so the sign-in screen.
    EXPECT_EQ(restoreSignIn(), SignedInProvider::None);

    const Ending google = signIn(SignedInProvider::Drive);
    ASSERT_TRUE(google.user);
    const QJsonObject form =
        QJsonDocument::fromJson(storedCredentials().value(services[0]).toString().toUtf8()).object();
    EXPECT_EQ(form.value(QStringLiteral("refresh_token")).toString(), QString());
}

TEST_F(SignIn, ZohoSendsItsQueryStringsExactlyWithTheLatestState) {
    const QString redirect = QStringLiteral("Vantry://zohoCallback");
    const QString scopes = ZohoAuthentication::scopes;
    auth->setDeny(true);
    signIn(SignedInProvider::Zoho, false);
    const QString firstState = ZohoAuthentication::oauthState();
    session.cancel();
    auth->setDeny(false);
    // The exchange must carry the state of the second press, not the first.
    BrowserSignIn::setPageOpener([this, redirect, scopes](const QUrl& url) {
        auth->setExpectedZohoExchange(
            QStringLiteral("grant_type=authorization_code&client_id=") + AuthorizationEmulator::zohoClientId +
            QStringLiteral("&code=CODE&redirect_uri=") + redirect + QStringLiteral("&scope=") + scopes +
            QStringLiteral("&state=") + ZohoAuthentication::oauthState() + QStringLiteral("&client_secret=") +
            AuthorizationEmulator::zohoSecret);
        return browser.open(url);
    });
    // The emulator's code is random; compare everything but it.
    const Ending ending = signIn(SignedInProvider::Zoho, false);
    EXPECT_NE(ZohoAuthentication::oauthState(), firstState);
    EXPECT_EQ(ZohoAuthentication::oauthState().size(), 10);
    EXPECT_EQ(auth->lastAuthorizeQuery(),
              QStringLiteral("response_type=code&client_id=") + AuthorizationEmulator::zohoClientId +
                  QStringLiteral("&redirect_uri=") + redirect + QStringLiteral("&scope=") + scopes +
                  QStringLiteral("&state=") + ZohoAuthentication::oauthState() +
                  QStringLiteral("&prompt=consent&access_type=offline"));
    QString sent = auth->lastZohoTokenQuery();
    sent.replace(QRegularExpression(QStringLiteral("code=emu-code-[a-z0-9]+")), QStringLiteral("code=CODE"));
    EXPECT_EQ(sent, QStringLiteral("grant_type=authorization_code&client_id=") +
                        AuthorizationEmulator::zohoClientId + QStringLiteral("&code=CODE&redirect_uri=") +
                        redirect + QStringLiteral("&scope=") + scopes + QStringLiteral("&state=") +
                        ZohoAuthentication::oauthState() + QStringLiteral("&client_secret=") +
                        AuthorizationEmulator::zohoSecret);
    EXPECT_TRUE(scopes.startsWith(QLatin1String("ZohoPC.files.All,")));
    EXPECT_EQ(scopes.count(QLatin1String("ZohoPC.files.All")), 2);
}

TEST_F(SignIn, EmptyClientIdentifierNamesTheKeyToSet) {
    const struct {
        SignedInProvider provider;
        ConfigKey key;
        const char* name;
    } cases[] = {{SignedInProvider::Drive, ConfigKey::GoogleClientId, "google/clientId"},
                 {SignedInProvider::Dropbox, ConfigKey::DropboxAppKey, "dropbox/appKey"},
                 {SignedInProvider::Zoho, ConfigKey::ZohoClientId, "zoho/clientId"}};
    int opened = 0;
    BrowserSignIn::setPageOpener([&opened](const QUrl&) { return ++opened > 0; });
    for (const auto& c : cases) {
        Config::instance().set(c.key, QString());
        const Ending ending = signIn(c.provider);
        ASSERT_TRUE(ending.result);
        EXPECT_EQ(ending.result->outcome, SignInResult::Outcome::Failed);
        EXPECT_TRUE(ending.result->message.contains(QLatin1String(c.name)))
            << ending.result->message.toStdString();
    }
    EXPECT_EQ(opened, 0);
}

// A vantry-server's storage API as far as sign-in needs it: GET /storage/me with the bearer token.
TEST_F(SignIn, SelfHostedReadsTheLocalServersTokenAndRefusesAWrongOne) {
    const QString serverToken = QStringLiteral("storage-token-SECRET-4411");
    testsupport::writeFile(SelfHostedSignIn::localServerTokenPath(), serverToken.toUtf8() + "\n");
    httplib::Server server;
    server.Get("/storage/me", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") != "Bearer " + serverToken.toStdString()) {
            res.status = 401;
            res.set_content(R"({"isSuccess": false, "response": "unauthorized"})", "application/json");
            return;
        }
        res.set_content(
            R"({"isSuccess": true, "response": {"id": "self:ada", "name": "Ada", "email": "ada@example.com", "avatar": ""}})",
            "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&server] { server.listen_after_bind(); });
    const QString url = QStringLiteral("http://127.0.0.1:%1").arg(port);

    const struct {
        const char* name;
        QString token;
        bool signsIn;
    } cases[] = {{"wrong token", QStringLiteral("guess"), false},
                 {"token read from the local server", {}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ZUser> user;
        std::optional<SignInResult> ended;
        QObject::connect(&session, &SignInSession::signedIn, &session,
                         [&user](const ZUser& u, SignedInProvider) { user = u; });
        QObject::connect(&session, &SignInSession::signInEnded, &session,
                         [&ended](const SignInResult& r) { ended = r; });
        session.startSelfHosted(url, c.token);
        ASSERT_TRUE(testsupport::waitUntil([&] { return user || ended; }, 20000));
        session.disconnect();
        EXPECT_EQ(bool(user), c.signsIn);
        if (!c.signsIn) {
            EXPECT_TRUE(storedCredentials().isEmpty());
            EXPECT_TRUE(setFlags().isEmpty());
            continue;
        }
        EXPECT_EQ(user->email, QStringLiteral("ada@example.com"));
        EXPECT_EQ(setFlags(), QStringList{QStringLiteral("isSelfHosted")});
        const QJsonObject stored =
            QJsonDocument::fromJson(storedCredentials().value(services[3]).toString().toUtf8()).object();
        EXPECT_EQ(stored.value(QStringLiteral("url")).toString(), url + QLatin1Char('/'));
        EXPECT_EQ(stored.value(QStringLiteral("token")).toString(), serverToken);
        EXPECT_EQ(restoreSignIn(), SignedInProvider::SelfHosted);
    }
    server.stop();
    thread.join();
    for (const QString& line : log.lines())
        EXPECT_FALSE(line.contains(serverToken)) << line.toStdString();
}
