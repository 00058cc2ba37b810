#include "core/Config.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "session/SignInState.h"
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
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {
// Providers as letters: d Dropbox, z Zoho, g Google Drive, s self-hosted.
void setUp(const QString& stored, const QString& flags) {
    QFile::remove(KeychainHelper::fallbackFilePath());
    DropBoxAuth::instance().reload();
    GoogleAuth::instance().reload();
    if (stored.contains(u'd'))
        DropBoxAuth::instance().link({QStringLiteral("a"), QStringLiteral("r"), 0});
    if (stored.contains(u'g'))
        GoogleAuth::instance().link({QStringLiteral("a"), QStringLiteral("r"), 0});
    if (stored.contains(u'z'))
        KeychainHelper().save(ZohoAuthentication::refreshTokenService, KeychainHelper::accountName,
                              QStringLiteral("r"));
    if (stored.contains(u's'))
        SelfHostedSignIn::store({QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("t")});
    Preferences::setFlag(Preferences::isDropBox, flags.contains(u'd'));
    Preferences::setFlag(Preferences::isZoho, flags.contains(u'z'));
    Preferences::setFlag(Preferences::isDrive, flags.contains(u'g'));
    Preferences::setFlag(SelfHostedSignIn::flag, flags.contains(u's'));
}

QString flagsNow() {
    QString out;
    for (const auto& [flag, letter] : {std::pair{Preferences::isDropBox, u'd'},
                                       {Preferences::isZoho, u'z'},
                                       {Preferences::isDrive, u'g'},
                                       {SelfHostedSignIn::flag, u's'}})
        if (Preferences::flag(flag))
            out += QChar(letter);
    return out;
}
} // namespace

TEST(StartupRestore, FirstMatchWinsAndSetsTheFlags) {
    using P = SignedInProvider;
    const struct {
        const char *name, *stored, *flags;
        P restored;
        const char* after;
    } cases[] = {
        {"nothing", "", "", P::None, ""},
        {"dropbox", "d", "dzgs", P::Dropbox, "d"},
        {"dropbox flag without its link, drive next", "g", "dg", P::Drive, "g"},
        {"zoho before drive", "dzg", "zg", P::Zoho, "z"},
        {"zoho token without its flag", "z", "", P::None, ""},
        {"zoho flag without its token", "", "z", P::None, "z"},
        {"drive flag without its authorization", "", "g", P::None, "g"},
        {"self-hosted last", "s", "s", P::SelfHosted, "s"},
        {"drive before self-hosted", "gs", "gs", P::Drive, "g"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setUp(QLatin1String(c.stored), QLatin1String(c.flags));
        EXPECT_EQ(restoreSignIn(), c.restored);
        EXPECT_EQ(flagsNow(), QLatin1String(c.after));
    }
}

TEST(SignOut, ForgetsDropboxButLeavesTheOthersTokensAndClearsEveryFlag) {
    setUp(QStringLiteral("dzgs"), QStringLiteral("z"));
    bool done = false;
    signOut([&done] { done = true; });
    ASSERT_TRUE(done);
    EXPECT_EQ(KeychainHelper().read(ZohoAuthentication::refreshTokenService), QStringLiteral("r"));
    EXPECT_EQ(restoreSignIn(), SignedInProvider::None); // "isZoho" is false now

    setUp(QStringLiteral("d"), QStringLiteral("d"));
    done = false;
    signOut([&done] { done = true; }); // the revocation cannot reach Dropbox here: forgotten anyway
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }, 20000));
    EXPECT_FALSE(DropBoxAuth::instance().authorizedClient());
    EXPECT_EQ(flagsNow(), QString());
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
        {"vantry://other?code=x", UrlRoute::Ignored, nullptr},
        {"not a url", UrlRoute::Ignored, nullptr},
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
