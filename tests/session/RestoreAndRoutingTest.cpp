#include "core/Config.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "session/SignInState.h"
#include "session/SingleInstance.h"
#include "session/UrlHandlerRegistration.h"
#include "session/UrlRouter.h"
#include "storage/KeychainHelper.h"
#include "storage/drive/GoogleAuth.h"
#include "storage/drive/GoogleSignIn.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/dropbox/DropBoxSignIn.h"
#include "storage/selfhosted/SelfHostedSignIn.h"
#include "storage/zoho/ZohoAuthentication.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {
struct Stored {
    bool dropbox, zoho, google, selfHosted;
};
struct Flags {
    bool dropbox, zoho, drive, selfHosted;
};

void setUp(const Stored& s, const Flags& f) {
    QFile::remove(KeychainHelper::fallbackFilePath());
    DropBoxAuth::instance().reload();
    GoogleAuth::instance().reload();
    if (s.dropbox)
        DropBoxAuth::instance().link({QStringLiteral("a"), QStringLiteral("r"), 0});
    if (s.google)
        GoogleAuth::instance().link({QStringLiteral("a"), QStringLiteral("r"), 0});
    if (s.zoho)
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                              QStringLiteral("r"));
    if (s.selfHosted)
        SelfHostedSignIn::store({QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("t")});
    Preferences::setFlag(Preferences::isDropBox, f.dropbox);
    Preferences::setFlag(Preferences::isZoho, f.zoho);
    Preferences::setFlag(Preferences::isDrive, f.drive);
    Preferences::setFlag(SelfHostedSignIn::flag, f.selfHosted);
}

Flags flagsNow() {
    return {Preferences::flag(Preferences::isDropBox), Preferences::flag(Preferences::isZoho),
            Preferences::flag(Preferences::isDrive), Preferences::flag(SelfHostedSignIn::flag)};
}
} // namespace

TEST(StartupRestore, FirstMatchWinsAndSetsTheFlags) {
    using P = SignedInProvider;
    const struct Case {
        const char* name;
        Stored stored;
        Flags flags;
        P restored;
        Flags after;
    } cases[] = {
        {"nothing", {}, {}, P::None, {}},
        {"dropbox",
         {true, false, false, false},
         {true, true, true, true},
         P::Dropbox,
         {true, false, false, false}},
        {"dropbox flag without its link, drive next",
         {false, false, true, false},
         {true, false, true, false},
         P::Drive,
         {false, false, true, false}},
        {"zoho before drive",
         {true, true, true, false},
         {false, true, true, false},
         P::Zoho,
         {false, true, false, false}},
        {"zoho token without its flag", {false, true, false, false}, {}, P::None, {}},
        {"zoho flag without its token",
         {false, false, false, false},
         {false, true, false, false},
         P::None,
         {false, true, false, false}},
        {"drive flag without its authorization",
         {},
         {false, false, true, false},
         P::None,
         {false, false, true, false}},
        {"self-hosted last",
         {false, false, false, true},
         {false, false, false, true},
         P::SelfHosted,
         {false, false, false, true}},
        {"drive before self-hosted",
         {false, false, true, true},
         {false, false, true, true},
         P::Drive,
         {false, false, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setUp(c.stored, c.flags);
        EXPECT_EQ(restoreSignIn(), c.restored);
        const Flags now = flagsNow();
        EXPECT_EQ(now.dropbox, c.after.dropbox);
        EXPECT_EQ(now.zoho, c.after.zoho);
        EXPECT_EQ(now.drive, c.after.drive);
        EXPECT_EQ(now.selfHosted, c.after.selfHosted);
    }
}

TEST(SignOut, ForgetsDropboxButLeavesTheOthersTokensAndClearsEveryFlag) {
    testsupport::LogCapture log;
    setUp({true, true, true, true}, {false, true, false, false});
    bool done = false;
    signOut([&done] { done = true; });
    ASSERT_TRUE(done);
    EXPECT_TRUE(log.lines().contains(QStringLiteral("logout")));
    EXPECT_EQ(KeychainHelper().read(ZohoAuthentication::refreshTokenService), QStringLiteral("r"));
    EXPECT_EQ(restoreSignIn(), SignedInProvider::None); // "isZoho" is false now

    setUp({true, false, false, false}, {true, false, false, false});
    done = false;
    signOut([&done] { done = true; }); // the revocation cannot reach Dropbox here: forgotten anyway
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }, 20000));
    EXPECT_FALSE(DropBoxAuth::instance().authorizedClient());
    const Flags now = flagsNow();
    EXPECT_FALSE(now.dropbox || now.zoho || now.drive || now.selfHosted);
}

TEST(UrlRouting, OnlyZohoCallbacksOnAVantrySchemeReachTheZohoReceiver) {
    const struct {
        const char* url;
        UrlRoute route;
        const char* code; // delivered with "zohocode_Receiver"
    } cases[] = {
        {"vantry://zohoCallback?code=1000.abc&location=us", UrlRoute::Zoho, "1000.abc"},
        {"Vantry://zohoCallback?code=first&code=second", UrlRoute::Zoho, "first"},
        {"vantry://zohoCallback", UrlRoute::Zoho, ""},
        {"vantry://zohoCallback?error=access_denied", UrlRoute::Zoho, ""},
        {"vantryapp://zohoCallback?code=x", UrlRoute::Zoho, "x"},
        {"https://zohoCallback?code=x", UrlRoute::Ignored, nullptr},
        {"myapp://zohoCallback?code=x", UrlRoute::Ignored, nullptr},
        {"vantry://other?code=x", UrlRoute::Ignored, nullptr},
        {"not a url", UrlRoute::Ignored, nullptr},
        {"", UrlRoute::Ignored, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        QStringList codes;
        QObject context;
        NotificationCenter::instance().observe(
            QStringLiteral("zohocode_Receiver"), &context, [&codes](const QVariantMap& info) {
                codes.append(info.value(QStringLiteral("code")).toString());
            });
        EXPECT_EQ(routeURL(QString::fromLatin1(c.url)), c.route);
        EXPECT_EQ(codes, c.code ? QStringList{QString::fromLatin1(c.code)} : QStringList{});
    }
}

TEST(SingleInstance, ASecondVantryHandsItsUrlToTheRunningOne) {
    SingleInstance running;
    ASSERT_TRUE(running.listen());
    QObject::connect(&running, &SingleInstance::urlReceived, &running,
                     [](const QString& url) { routeURL(url); });
    QStringList codes;
    NotificationCenter::instance().observe(
        QStringLiteral("zohocode_Receiver"), &running,
        [&codes](const QVariantMap& info) { codes.append(info.value(QStringLiteral("code")).toString()); });
    QProcess second;
    second.start(testsupport::binaryDir() + QStringLiteral("/src/ui/vantry"),
                 {QStringLiteral("vantry://zohoCallback?code=X")});
    ASSERT_TRUE(testsupport::waitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !codes.isEmpty(); }));
    EXPECT_EQ(codes, QStringList{QStringLiteral("X")});
    // Only one can be the running instance.
    SingleInstance another;
    EXPECT_FALSE(another.listen());
}

TEST(UrlRouting, WaitingDropboxThenGoogleFlowsComeFirstAndGoogleDeclinesForeignUrls) {
    Config::instance().set(ConfigKey::DropboxAppKey, QStringLiteral("abcdefghij12345"));
    Config::instance().set(ConfigKey::DropboxRedirectUri, QStringLiteral("vantry://dropbox/auth"));
    Config::instance().set(ConfigKey::GoogleClientId, QStringLiteral("1-x.apps.googleusercontent.com"));
    BrowserSignIn::setPageOpener([](const QUrl&) { return true; });
    GoogleSignIn google;
    google.start();
    DropBoxSignIn dropbox;
    std::optional<SignInResult> dropboxEnd;
    dropbox.onFinished = [&dropboxEnd](const SignInResult& r) { dropboxEnd = r; };
    dropbox.start();
    const QString googleRedirect = QUrlQuery(google.authorizationUrl())
                                       .queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);

    EXPECT_EQ(routeURL(QStringLiteral("vantry://zohoCallback?code=z")), UrlRoute::Zoho);
    EXPECT_EQ(routeURL(googleRedirect + QStringLiteral("?error=access_denied&state=x")), UrlRoute::Google);
    EXPECT_FALSE(google.isWaiting()); // a foreign state ends it
    EXPECT_EQ(routeURL(QStringLiteral("vantry://dropbox/auth?error=access_denied&state=x")),
              UrlRoute::Dropbox);
    ASSERT_TRUE(dropboxEnd);
    EXPECT_EQ(dropboxEnd->outcome, SignInResult::Outcome::Failed);
    // Both ended: their URLs are nobody's now.
    EXPECT_EQ(routeURL(QStringLiteral("vantry://dropbox/auth?code=c")), UrlRoute::Ignored);
    EXPECT_EQ(routeURL(googleRedirect + QStringLiteral("?code=c")), UrlRoute::Ignored);
    Config::instance().reload();
}

TEST(UrlHandler, DesktopEntryDeclaresTheVantryScheme) {
    const QString entry = desktopEntryText(QStringLiteral("/opt/Vantry App/vantry"));
    EXPECT_TRUE(entry.contains(QLatin1String("\nExec=\"/opt/Vantry App/vantry\" %u\n")));
    EXPECT_TRUE(entry.contains(QLatin1String("\nMimeType=x-scheme-handler/vantry;application/"
                                             "vnd.android.package-archive;application/x-ios-app;\n")));
    const QString installed = QString::fromUtf8(
        testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/resources/linux/vantry.desktop")));
    EXPECT_EQ(installed, desktopEntryText(QStringLiteral("vantry")));
}
