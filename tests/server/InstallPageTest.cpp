#include "server/pages/InstallPage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace {

Zapp record(const QString& appid) {
    Zapp app;
    app.appid = appid;
    app.appname = QStringLiteral("Demo");
    app.appversion = QStringLiteral("2.1");
    app.appsize = QStringLiteral("12 MB");
    app.appMinOS = QStringLiteral("15.0");
    app.appdate = QStringLiteral("2026/12/01 10:00");
    return app;
}

QString page(const Zapp& app, ViewerPlatform viewer, const QDate& today = {}) {
    InstallPageContent c;
    c.today = today;
    c.app = app;
    c.pageUrl = QStringLiteral("https://v.example/") + QString(app.appid).remove(QStringLiteral("__android"));
    c.installUrl = c.pageUrl + QStringLiteral("/install");
    c.qrSvg = QStringLiteral("<svg id=\"code\"></svg>");
    c.viewer = viewer;
    return QString::fromUtf8(renderInstallPage(c));
}

QStringList agents(const char* file) {
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(testsupport::readFile(testsupport::dataPath(
                                                           QStringLiteral("ua/") + QLatin1String(file))))
                                   .array())
        out << v.toString();
    return out;
}

} // namespace

TEST(InstallPage, OffersTheButtonOnlyWhereItWorks) {
    const Zapp ios = record(QStringLiteral("abcDEF1234"));
    const Zapp android = record(QStringLiteral("abcDEF1234__android"));

    QString html = page(ios, ViewerPlatform::iOS);
    EXPECT_TRUE(html.contains(QLatin1String(
        "<a class=\"install\" id=\"install\" href=\"https://v.example/abcDEF1234/install\">Install</a>")));
    EXPECT_TRUE(html.contains(QLatin1String("Safari")));
    EXPECT_TRUE(html.contains(QLatin1String("<dt>Minimum iOS</dt><dd>15.0</dd>")));

    html = page(ios, ViewerPlatform::Android);
    EXPECT_FALSE(html.contains(QLatin1String("id=\"install\"")));
    EXPECT_TRUE(html.contains(QLatin1String("This is an iOS app.")));

    html = page(android, ViewerPlatform::iOS);
    EXPECT_FALSE(html.contains(QLatin1String("id=\"install\"")));
    EXPECT_TRUE(html.contains(QLatin1String("This is an Android app.")));

    html = page(android, ViewerPlatform::Android);
    EXPECT_TRUE(html.contains(QLatin1String("href=\"https://v.example/abcDEF1234/install\">Install</a>")));
    EXPECT_TRUE(html.contains(QLatin1String("<dt>Version code</dt><dd>15.0</dd>")));
    EXPECT_TRUE(html.contains(QLatin1String("<svg id=\"code\"></svg>")));
    for (const char* external : {"<link", "src=\"http", "url(", "@import", "<script src"})
        EXPECT_FALSE(html.contains(QLatin1String(external)))
            << "the page loads nothing from elsewhere: " << external;
}

TEST(InstallPage, TellsTestersWhatTheProfileAllows) {
    // A record without the profile keys renders exactly as before the page knew of them.
    const struct {
        const char* id;
        ViewerPlatform viewer;
        const char* file;
    } unchanged[] = {
        {"abcDEF1234", ViewerPlatform::iOS, "pages/abcDEF1234-ios.html"},
        {"abcDEF1234", ViewerPlatform::Other, "pages/abcDEF1234-other.html"},
        {"abcDEF1234__android", ViewerPlatform::Android, "pages/abcDEF1234__android-android.html"}};
    for (const auto& c : unchanged)
        EXPECT_EQ(page(record(QLatin1String(c.id)), c.viewer).toUtf8(),
                  testsupport::readFile(testsupport::dataPath(QLatin1String(c.file))))
            << c.file;

    Zapp adHoc = record(QStringLiteral("abcDEF1234"));
    adHoc.profileKind = QStringLiteral("ad-hoc");
    adHoc.profileExpiry = QStringLiteral("2026-05-03");
    adHoc.provisionedDevices = QStringLiteral("12");
    const QDate april(2026, 4, 1);
    QString html = page(adHoc, ViewerPlatform::iOS, april);
    EXPECT_TRUE(html.contains(
        QLatin1String("<p class=\"note\" id=\"devices\">Installs only on the 12 registered devices.</p>")));
    EXPECT_TRUE(html.contains(QLatin1String("<p class=\"note\" id=\"expiry\">Expires on 3 May 2026.</p>")));
    EXPECT_TRUE(
        page(adHoc, ViewerPlatform::Other, april).contains(QLatin1String("the 12 registered devices")));
    EXPECT_TRUE(page(adHoc, ViewerPlatform::iOS, QDate(2026, 5, 4))
                    .contains(QLatin1String("Expired on 3 May 2026: the app no longer opens.")));

    adHoc.provisionedDevices = QStringLiteral("1");
    EXPECT_TRUE(
        page(adHoc, ViewerPlatform::iOS, april).contains(QLatin1String("the one registered device.")));
    Zapp enterprise = record(QStringLiteral("abcDEF1234"));
    enterprise.profileKind = QStringLiteral("enterprise");
    enterprise.profileExpiry = QStringLiteral("not a date");
    html = page(enterprise, ViewerPlatform::iOS, april);
    EXPECT_FALSE(html.contains(QLatin1String("id=\"devices\"")));
    EXPECT_FALSE(html.contains(QLatin1String("id=\"expiry\"")));
    // Android records never carry a profile; keys sent anyway are not shown.
    Zapp android = adHoc;
    android.appid += QStringLiteral("__android");
    EXPECT_FALSE(page(android, ViewerPlatform::Android, april).contains(QLatin1String("registered device")));
}

TEST(InstallPage, EscapesEveryRecordValue) {
    Zapp app = record(QStringLiteral("x"));
    app.appname = QStringLiteral("<script>alert(1)</script> & \"co\"");
    app.appversion = QStringLiteral("<b>1</b>");
    app.appicon = QStringLiteral("javascript:alert(1)");
    const QString html = page(app, ViewerPlatform::iOS);
    EXPECT_FALSE(html.contains(QLatin1String("<script>alert")));
    EXPECT_FALSE(html.contains(QLatin1String("<b>1</b>")));
    EXPECT_FALSE(html.contains(QLatin1String("javascript:")));
    EXPECT_TRUE(html.contains(QLatin1String("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;co&quot;")));
    EXPECT_TRUE(html.contains(QLatin1String("data:image/svg+xml"))) << "placeholder icon";

    app.appicon = QStringLiteral("https://cdn.example/icon.png?a=1&b=2");
    EXPECT_TRUE(page(app, ViewerPlatform::iOS)
                    .contains(QLatin1String("src=\"https://cdn.example/icon.png?a=1&amp;b=2\"")));
}

TEST(InstallPage, ClassifiesRealAgentsByPlatform) {
    int ios = 0;
    int android = 0;
    for (const QString& ua : agents("top-user-agents_mobile.json")) {
        const ViewerPlatform p = viewerPlatform(ua);
        EXPECT_NE(p, ViewerPlatform::Other) << ua.toStdString();
        ios += p == ViewerPlatform::iOS;
        android += p == ViewerPlatform::Android;
    }
    EXPECT_EQ(ios, 15);
    EXPECT_EQ(android, 13);
    const QStringList desktop = agents("top-user-agents_desktop.json");
    ASSERT_EQ(desktop.size(), 72);
    for (const QString& ua : desktop)
        EXPECT_EQ(platformName(viewerPlatform(ua)), QStringLiteral("other")) << ua.toStdString();
    EXPECT_EQ(viewerPlatform(QStringLiteral(
                  "Mozilla/5.0 (Windows Phone 10.0; Android 6.0.1; Microsoft; Lumia 950) "
                  "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/52 Mobile Safari/537.36 Edge/15")),
              ViewerPlatform::Other);
}
