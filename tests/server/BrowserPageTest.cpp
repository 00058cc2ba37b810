// The install page as a phone's browser shows it: headless Chromium loads the page from the
// service, and the QR code in the screenshot must decode back to the page's own address.
#include "ServerTestUtil.h"
#include "qrcode/QRCode.h"
#include "server/pages/QrSvg.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <httplib.h>

namespace {

const QString kIPhone =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X) AppleWebKit/605.1.15 "
                   "(KHTML, like Gecko) Version/26.6 Mobile/15E148 Safari/604.1");
const QString kAndroid =
    QStringLiteral("Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
                   "Chrome/151.0.0.0 Mobile Safari/537.36");

// Runs Chromium headless with a phone's agent and window; returns its standard output.
QByteArray chromium(const QStringList& extra, const QString& agent, const QString& url) {
    const QString profile = testsupport::makeTempDir("chromium");
    QProcess browser;
    browser.start("chromium", QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                          "--no-first-run", "--disable-background-networking",
                                          "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                                          "--user-data-dir=" + profile, "--window-size=412,1300",
                                          "--user-agent=" + agent} +
                                  extra + QStringList{url});
    browser.waitForFinished(60000);
    return browser.readAllStandardOutput();
}

} // namespace

TEST(BrowserPage, PhonesSeeTheButtonAndAScannableCode) {
    if (QStandardPaths::findExecutable("chromium").isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it)";
    auto server = startServer({.qrRenderer = installPageQrSvg});
    ASSERT_TRUE(server);

    struct Case {
        QString appid, publicId, agent, appurl;
    };
    const Case cases[] = {
        {"iosBrowse1", "iosBrowse1", kIPhone,
         "itms-services://?action=download-manifest&url=https%3A%2F%2Fd%2Fm.plist"},
        {"andBrowse1__android", "andBrowse1", kAndroid, "https://d/a.apk"},
    };
    httplib::Client api("127.0.0.1", server->port());
    const std::string secret = signUp(api, "u1");
    ASSERT_FALSE(secret.empty());
    for (const Case& c : cases) {
        const QVariantMap fields{{"appname", "Browse <Demo>"}, {"appurl", c.appurl}};
        ASSERT_EQ(postApp(api, "u1", c.appid, fields, secret), 201);

        const QString pageUrl = server->publicUrl() + c.publicId;
        const QString shot = testsupport::makeTempDir("shot") + "/page.png";
        chromium({"--screenshot=" + shot}, c.agent, pageUrl);
        const QImage image(shot);
        ASSERT_FALSE(image.isNull()) << "no screenshot of " << pageUrl.toStdString();
        EXPECT_EQ(QRCode::DetectQRCodes(image), QStringList{pageUrl});

        // The DOM as the browser built it: the button leads to the install counter, and the
        // name is text, not markup.
        const QString dom = QString::fromUtf8(chromium({"--dump-dom"}, c.agent, pageUrl));
        const QRegularExpressionMatch button =
            QRegularExpression("<a class=\"install\" id=\"install\" href=\"([^\"]+)\">Install</a>")
                .match(dom);
        ASSERT_TRUE(button.hasMatch()) << dom.left(400).toStdString();
        EXPECT_EQ(button.captured(1), pageUrl + "/install");
        EXPECT_TRUE(dom.contains("<h1>Browse &lt;Demo&gt;</h1>"));
    }
}
