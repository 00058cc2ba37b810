// The install page and the release notes on it as functions of a record: the page files byte for
// byte, what the profile allows, escaping, the code on the page, and the platforms of real agents.
#include "server/pages/InstallPage.h"
#include "qrcode/QRCode.h"
#include "server/pages/QrSvg.h"
#include "server/pages/ReleaseNotes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace {

Zapp record(const QString& appid) {
    Zapp app;
    app.appid = appid;
    app.appname = "Demo";
    app.appversion = "2.1";
    app.appsize = "12 MB";
    app.appMinOS = "15.0";
    app.appdate = "2026/12/01 10:00";
    return app;
}

QString page(const Zapp& app, ViewerPlatform viewer, const QDate& today = {}) {
    InstallPageContent c;
    c.today = today;
    c.app = app;
    c.pageUrl = "https://v.example/" + QString(app.appid).remove("__android");
    c.installUrl = c.pageUrl + "/install";
    c.qrSvg = "<svg id=\"code\"></svg>";
    c.viewer = viewer;
    return QString::fromUtf8(renderInstallPage(c));
}

QStringList agents(const char* file) {
    QStringList out;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(testsupport::readFile(testsupport::dataPath("ua/" + QLatin1String(file))))
             .array())
        out << v.toString();
    return out;
}

} // namespace

// The page's own code, drawn from its SVG as a browser draws it, reads back as the page's address.
TEST(InstallPage, CodeReadsBackAsThePagesAddress) {
    const QString url = "http://127.0.0.1:49152/iosBrowse1";
    QSvgRenderer svg(installPageQrSvg(url).toUtf8());
    ASSERT_TRUE(svg.isValid());
    QImage image(412, 412, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    EXPECT_EQ(QRCode::DetectQRCodes(image), QStringList{url});
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
    // An Android build seen on an iPhone: no button that cannot work there.
    const QString elsewhere = page(record("abcDEF1234__android"), ViewerPlatform::iOS);
    EXPECT_FALSE(elsewhere.contains("id=\"install\""));
    EXPECT_TRUE(elsewhere.contains("This is an Android app."));

    Zapp adHoc = record("abcDEF1234");
    adHoc.profileKind = "ad-hoc";
    adHoc.profileExpiry = "2026-05-03";
    adHoc.provisionedDevices = "12";
    const QDate april(2026, 4, 1);
    QString html = page(adHoc, ViewerPlatform::iOS, april);
    EXPECT_TRUE(
        html.contains("<p class=\"note\" id=\"devices\">Installs only on the 12 registered devices.</p>"));
    EXPECT_TRUE(html.contains("<p class=\"note\" id=\"expiry\">Expires on 3 May 2026.</p>"));
    EXPECT_TRUE(page(adHoc, ViewerPlatform::Other, april).contains("the 12 registered devices"));
    EXPECT_TRUE(page(adHoc, ViewerPlatform::iOS, QDate(2026, 5, 4))
                    .contains("Expired on 3 May 2026: the app no longer opens."));

    adHoc.provisionedDevices = "1";
    EXPECT_TRUE(page(adHoc, ViewerPlatform::iOS, april).contains("the one registered device."));
    Zapp enterprise = record("abcDEF1234");
    enterprise.profileKind = "enterprise";
    enterprise.profileExpiry = "not a date";
    html = page(enterprise, ViewerPlatform::iOS, april);
    EXPECT_FALSE(html.contains("id=\"devices\""));
    EXPECT_FALSE(html.contains("id=\"expiry\""));
    // Android records never carry a profile; keys sent anyway are not shown.
    Zapp android = adHoc;
    android.appid += "__android";
    EXPECT_FALSE(page(android, ViewerPlatform::Android, april).contains("registered device"));
}

TEST(InstallPage, EscapesEveryRecordValue) {
    Zapp app = record("x");
    app.appname = "<script>alert(1)</script> & \"co\"";
    app.appversion = "<b>1</b>";
    app.appicon = "javascript:alert(1)";
    const QString html = page(app, ViewerPlatform::iOS);
    EXPECT_FALSE(html.contains("<script>alert"));
    EXPECT_FALSE(html.contains("<b>1</b>"));
    EXPECT_FALSE(html.contains("javascript:"));
    EXPECT_TRUE(html.contains("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;co&quot;"));
    EXPECT_TRUE(html.contains("data:image/svg+xml")) << "placeholder icon";

    app.appicon = "https://cdn.example/icon.png?a=1&b=2";
    EXPECT_TRUE(page(app, ViewerPlatform::iOS).contains("src=\"https://cdn.example/icon.png?a=1&amp;b=2\""));
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
        EXPECT_EQ(platformName(viewerPlatform(ua)), "other") << ua.toStdString();
    EXPECT_EQ(viewerPlatform(QStringLiteral(
                  "Mozilla/5.0 (Windows Phone 10.0; Android 6.0.1; Microsoft; Lumia 950) "
                  "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/52 Mobile Safari/537.36 Edge/15")),
              ViewerPlatform::Other);
}

// Every "<" of the notes' HTML opens one of our links, every link is http or https, and the text
// a reader sees is the text written (line breaks kept, control characters dropped).
TEST(ReleaseNotes, OnlyWebLinksBecomeMarkup) {
    const QString emoji = QString::fromUtf8("🚀").repeated(4000);
    const struct {
        QString notes;
        QStringList links;
    } cases[] = {
        {"<script>alert(1)</script>", {}},
        {"\" onmouseover=\"x' <b>&amp;", {}},
        {"javascript:alert(1) and JavaScript://%0aalert(1)", {}},
        {"ftp://x.test/a data:text/html,<b> https:// and http:///nohost", {}},
        {"see https://x.test/a?b=1&c=2. And (http://y.test/wiki/A_(b)), HTTPS://Z.TEST!",
         {"https://x.test/a?b=1&amp;c=2", "http://y.test/wiki/A_(b)", "HTTPS://Z.TEST"}},
        {"https://x.test/\"><script>alert(1)</script> javascript:x//https://w.test/'onload",
         {"https://x.test/", "https://w.test/"}},
        {"line 1\r\nline 2\rline 3\x01\x7f\tend", {}},
        {emoji, {}},
    };
    static const QRegularExpression ours("<a href=\"([^\"<>]*)\" rel=\"noopener noreferrer\">|</a>");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notes.left(80).toStdString());
        const QString html = releaseNotesHtml(c.notes);
        QStringList links;
        for (auto it = ours.globalMatch(html); it.hasNext();) {
            const auto m = it.next();
            if (m.hasCaptured(1))
                links << m.captured(1);
        }
        EXPECT_EQ(links, c.links);
        QString rest = html;
        rest.remove(ours);
        EXPECT_FALSE(rest.contains('<') || rest.contains('>') || rest.contains('"')) << html.toStdString();
        QString expected = c.notes;
        expected.replace("\r\n", "\n").replace('\r', '\n').remove('\x01').remove('\x7f');
        for (const char* entity : {"&lt;<", "&gt;>", "&quot;\"", "&#39;'", "&amp;&"})
            rest.replace(QLatin1String(entity).chopped(1), QLatin1String(entity).right(1));
        EXPECT_EQ(rest, expected);
    }
    // On the page: the notes' block holds them whole, and the page's own markup is what it was.
    Zapp app;
    app.appid = "page000001";
    InstallPageContent content;
    content.app = app;
    const QString plain = QString::fromUtf8(renderInstallPage(content));
    content.app.appdescription = "</p></div><script>x</script>\n" + emoji;
    const QString noted = QString::fromUtf8(renderInstallPage(content));
    EXPECT_EQ(noted.count("<script"), plain.count("<script"));
    EXPECT_EQ(noted.count("</div>"), plain.count("</div>") + 1);
    EXPECT_TRUE(noted.contains("\n" + emoji + "</p></div>"));
}
