// The public side of the service over real sockets, on either engine: install tracking and
// redirects, and the device check end to end (a simulated phone installs the profile, signs its
// answer with a certificate of its own and lands on the install page).
#include "PostgresCluster.h"
#include "RawSocket.h"
#include "ServerTestUtil.h"
#include "inspect/PackageFactory.h"
#include "plist/PlistReader.h"
#include "records/ZUserData.h"
#include "server/Database.h"

#include <QDateTime>
#include <QUrl>

namespace {

const std::string kAndroid = "Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
                             "Chrome/151.0.0.0 Mobile Safari/537.36";
const std::string kDesktop = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                             "Gecko) Chrome/151.0.0.0 Safari/537.36";
const std::string kIPad = "Mozilla/5.0 (iPad; CPU OS 17_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
                          "Gecko) Version/17.5 Mobile/15E148 Safari/604.1";
const QString kListed = "00008101-000A1B2C3D4E5F60";
const QString kOld = "0123456789abcdef0123456789abcdef01234567";
const QString kMissing = "00008030-001A35E11A88802E";
const QString kOwner = "dev-1";

// The phone's answer: the list signed into a CMS message with a certificate the test made.
QByteArray signedByPhone(const QByteArray& content) {
    static const QString dir = [] {
        const QString d = testsupport::makeTempDir("phone");
        return makeCertificate(d) ? d : QString();
    }();
    const QString work = testsupport::makeTempDir("answer");
    testsupport::writeFile(work + "/in", content);
    QProcess::execute("openssl",
                      {"cms", "-sign", "-nodetach", "-binary", "-outform", "DER", "-in", work + "/in", "-out",
                       work + "/out", "-signer", dir + "/cert.pem", "-inkey", dir + "/key.pem"});
    return testsupport::readFile(work + "/out");
}

QByteArray answerPlist(const QString& udid, const QString& challenge, const QString& padding = {}) {
    return packages::xmlPlist(QVariantMap{{"UDID", udid},
                                          {"PRODUCT", "iPhone15,2"},
                                          {"VERSION", "21F90"},
                                          {"DEVICE_NAME", "Ann's iPhone"},
                                          {"CHALLENGE", challenge},
                                          {"PAD", padding}});
}

class PublicPages : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        // Every install here is counted, and none is refused.
        server = startServer({.database = url, .installRepeatWindow = 0, .installsPerMinute = 0});
        ASSERT_TRUE(server);
        httplib::Client c = client();
        ASSERT_FALSE((secret = signUp(c, kOwner, "dev@example.com")).empty());
    }
    httplib::Client client() const { return httplib::Client("127.0.0.1", server->port()); }
    int publish(const QString& appid, const QString& kind, const QString& ids = kListed + ',' + kOld,
                QVariantMap fields = {}) {
        httplib::Client c = client();
        fields.insert("appname", "Tester App");
        if (!kind.isEmpty())
            fields.insert("profilekind", kind);
        if (!ids.isNull())
            fields.insert("provisioneddeviceids", ids);
        return postApp(c, kOwner, appid, fields, secret);
    }
    httplib::Result get(const std::string& path, const std::string& agent) const {
        return client().Get(path, {{"User-Agent", agent}});
    }
    QString page(const QString& path, const std::string& agent = kIPhone) const {
        const auto r = get(path.toStdString(), agent);
        return status(r) == 200 ? QString::fromStdString(r->body)
                                : QStringLiteral("status %1").arg(status(r));
    }
    // The profile the phone downloads, read back; its challenge.
    QVariantMap profile(const QString& appid) const {
        const auto r = get(("/" + appid + "/device.mobileconfig").toStdString(), kIPhone);
        if (status(r) != 200)
            return {};
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/x-apple-aspen-config");
        return PlistReader::dictionaryFromBytes(QByteArray::fromStdString(r->body)).value_or(QVariantMap());
    }
    QString challenge(const QString& appid) const {
        return profile(appid).value("PayloadContent").toMap().value("Challenge").toString();
    }
    httplib::Result answer(const QString& appid, const QByteArray& body) const {
        return client().Post(("/" + appid + "/device").toStdString(), body.toStdString(),
                             "application/pkcs7-signature");
    }
    qsizetype checksOf(const QString& appid) const {
        return server->database().deviceChecksOf(appid, 0).value_or(QList<StoredDeviceCheck>()).size();
    }

    std::unique_ptr<VantryServer> server;
    std::string secret;
};

TEST_P(PublicPages, PhoneIsSentToItsAnswerWhichOnlyTheOwnerReads) {
    ASSERT_EQ(publish("adhoc00001", "ad-hoc"), 201);
    const QVariantMap payload = profile("adhoc00001");
    EXPECT_EQ(payload.value("PayloadType"), "Profile Service");
    const QVariantMap content = payload.value("PayloadContent").toMap();
    EXPECT_EQ(content.value("URL"), server->publicUrl() + "adhoc00001/device");
    EXPECT_EQ(content.value("DeviceAttributes").toStringList(),
              (QStringList{"UDID", "PRODUCT", "VERSION", "DEVICE_NAME"}));
    EXPECT_EQ(content.value("Challenge").toString().size(), 32);
    EXPECT_EQ(payload.value("PayloadVersion").toInt(), 1);

    const testsupport::LogCapture log;
    for (const QString& udid : {kListed, kOld.toUpper(), kMissing}) {
        SCOPED_TRACE(udid.toStdString());
        const bool included = udid != kMissing;
        const auto r = answer("adhoc00001", signedByPhone(answerPlist(udid, challenge("adhoc00001"))));
        ASSERT_EQ(status(r), 301);
        const QUrl location(QString::fromStdString(r->get_header_value("Location")));
        EXPECT_EQ(location.toString(QUrl::RemoveQuery), server->publicUrl() + "adhoc00001");
        const QString shown = page(location.path() + "?" + location.query());
        EXPECT_EQ(shown.contains(QString::fromUtf8("This build includes your device.</p><p class=\"note\" "
                                                   "id=\"device-model\">iPhone15,2 · iOS build 21F90</p>")),
                  included);
        EXPECT_EQ(shown.contains("id=\"install\""), included);
        EXPECT_EQ(shown.contains("href=\"mailto:dev@example.com?subject="), !included);
        EXPECT_EQ(shown.contains("Device%20ID%3A%20" + udid), !included);
        EXPECT_EQ(shown.contains(udid), !included) << "only its own check shows it";
    }
    const QString other = page("/adhoc00001?device=someone-elses-check");
    EXPECT_TRUE(other.contains("This device check has expired"));
    httplib::Client c = client();
    const struct {
        httplib::Headers headers;
        int status;
    } readers[] = {{{}, 401},
                   {as("dev-1"), 401},
                   {as("dev-1", "wrong"), 401},
                   {as("stranger", signUp(c, "stranger")), 403},
                   {as("dev-1", secret), 200}};
    for (const auto& k : readers)
        EXPECT_EQ(status(c.Get("/devices/adhoc00001", k.headers)), k.status);
    EXPECT_EQ(status(c.Get("/devices/unknown001", as("dev-1", secret))), 404);
    const QJsonArray list = listOf(c.Get("/devices/adhoc00001", as("dev-1", secret)));
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list.at(0).toObject().value("udid"), kMissing) << "newest first";
    EXPECT_EQ(list.at(2).toObject().value("included"), true);
    const auto apps = c.Get("/app/dev-1", as("dev-1", secret));
    ASSERT_EQ(status(apps), 200);
    for (const QString& udid : {kListed, kOld, kMissing}) {
        EXPECT_FALSE(log.joined().contains(udid, Qt::CaseInsensitive)) << log.joined().toStdString();
        EXPECT_FALSE(other.contains(udid, Qt::CaseInsensitive));
        EXPECT_EQ(apps->body.find(udid.toStdString()), std::string::npos);
    }
}

TEST_P(PublicPages, RefusedAnswersStoreNothing) {
    ASSERT_EQ(publish("adhoc00002", "development"), 201);
    ASSERT_EQ(publish("adhoc00003", "ad-hoc"), 201);
    const QString used = challenge("adhoc00002");
    ASSERT_EQ(status(answer("adhoc00002", signedByPhone(answerPlist(kListed, used)))), 301);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(server->database().insertDeviceChallenge("stale", "adhoc00002", now - 1, now - 3600));
    const struct {
        const char* name;
        QByteArray body;
    } cases[] = {
        {"a used challenge", signedByPhone(answerPlist(kListed, used))},
        {"another app's challenge", signedByPhone(answerPlist(kListed, challenge("adhoc00003")))},
        {"an expired challenge", signedByPhone(answerPlist(kListed, "stale"))},
        {"no CMS", answerPlist(kListed, challenge("adhoc00002"))},
        {"no UDID", signedByPhone(answerPlist("phone", challenge("adhoc00002")))},
        {"100,000 deep", signedByPhone(packages::deepBinaryPlist(100000))},
        {"6,500 deep", signedByPhone(packages::deepBinaryPlist(6500))},
        {"65 KiB", signedByPhone(answerPlist(kListed, challenge("adhoc00002"), QString(65 * 1024, 'x')))},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.body.isEmpty()) << c.name;
        EXPECT_EQ(status(answer("adhoc00002", c.body)), 400) << c.name;
    }
    EXPECT_GT(cases[5].body.size(), 64 * 1024);
    EXPECT_LT(cases[6].body.size(), 64 * 1024);
    EXPECT_EQ(checksOf("adhoc00002"), 1);
    EXPECT_EQ(checksOf("adhoc00003"), 0);

    // A check older than 30 days shows nothing and leaves the owner's list.
    ASSERT_EQ(server->database().insertDeviceCheck({"old-check", "adhoc00002", kMissing, "iPhone9,1",
                                                    "15A372", QString(), false, now - 31 * 86400},
                                                   0),
              Database::Insert::Added);
    const QString old = page("/adhoc00002?device=old-check");
    EXPECT_TRUE(old.contains("This device check has expired"));
    EXPECT_FALSE(old.contains(kMissing));
    const auto listed = client().Get("/devices/adhoc00002", as("dev-1", secret));
    ASSERT_EQ(status(listed), 200);
    EXPECT_EQ(listed->body.find(kMissing.toStdString()), std::string::npos);
}

TEST_P(PublicPages, OfferedOnlyToIosVisitorsOfBuildsWithTheirList) {
    const struct {
        const char* appid;
        const char* kind;
        QString ids;
        bool checkable; // its profile answers, and iPhones are offered the check
    } apps[] = {{"withlist01", "ad-hoc", kListed, true},     {"develop001", "development", kOld, true},
                {"nolist0001", "ad-hoc", QString(), false},  {"inhouse001", "enterprise", kListed, false},
                {"store00001", "app-store", kListed, false}, {"droid00001__android", "", kListed, false}};
    for (const auto& a : apps) {
        ASSERT_EQ(publish(a.appid, a.kind, a.ids), 201) << a.appid;
        const QString path = QString(a.appid).remove("__android");
        EXPECT_EQ(!challenge(path).isEmpty(), a.checkable) << a.appid;
        EXPECT_EQ(page("/" + path).contains("Check my device"), a.checkable) << a.appid;
    }
    for (const std::string& agent : {kIPad, kDesktop, kAndroid})
        EXPECT_EQ(page("/withlist01", agent).contains("Check my device"), agent == kIPad) << agent;
    // The stable link testers keep offers the newest build's check.
    ASSERT_EQ(publish("stable0001", "ad-hoc", kListed, {{"bundleid", "com.example.tester"}}), 201);
    const QString stable = "/l/" + server->database().app("stable0001")->latestKey;
    EXPECT_TRUE(page(stable).contains("/stable0001/device.mobileconfig")) << page(stable).toStdString();
    EXPECT_FALSE(page(stable, kDesktop).contains("Check my device"));
    // A list the server cannot check against is refused with the app.
    for (const QString& bad :
         {QString(""), kListed + ",phone", kListed.left(24), QStringList(1001, kListed).join(',')})
        EXPECT_EQ(publish("badlist001", "ad-hoc", bad), 400) << bad.left(40).toStdString();
}

TEST_P(PublicPages, InstallsAreCountedByPlatformAndRedirect) {
    const QString manifest = "itms-services://?action=download-manifest&url=https%3A%2F%2Fd%2Fm.plist";
    ASSERT_EQ(publish("iosApp0002", "", QString(), {{"appurl", manifest}}), 201);
    ASSERT_EQ(publish("andApp0002__android", "", QString(), {{"appurl", "https://d/app.apk"}}), 201);

    const std::string longAgent = kAndroid + std::string(2000, 'x');
    for (const std::string& agent : {kIPhone, kAndroid, kDesktop, longAgent}) // raw: httplib decodes Location
        EXPECT_TRUE(RawSocket::exchange(server->port(),
                                        QByteArray::fromStdString(
                                            "GET /iosApp0002/install HTTP/1.1\r\nHost: t\r\nUser-Agent: " +
                                            agent + "\r\nConnection: close\r\n\r\n"))
                        .contains("\r\nLocation: " + manifest.toUtf8() + "\r\n"));
    auto r = get("/andApp0002/install", kAndroid);
    ASSERT_EQ(status(r), 302);
    EXPECT_EQ(r->get_header_value("Location"), "https://d/app.apk");
    // The page itself (content: InstallPageTest): Android pages live at the identifier without
    // its suffix, the QR code of an Android job carries the full one and leads there.
    r = get("/andApp0002", kAndroid);
    ASSERT_EQ(status(r), 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(r->body.find("andApp0002/install\">Install</a>"), std::string::npos);
    EXPECT_NE(get("/iosApp0002", kAndroid)->body.find("This is an iOS app."), std::string::npos);
    r = get("/andApp0002__android", kAndroid);
    ASSERT_EQ(status(r), 301);
    EXPECT_EQ(r->get_header_value("Location"), server->publicUrl().toStdString() + "andApp0002");
    // A link stored before links were checked is not redirected to.
    const StoredApp old{.appid = "oldLink001", .userid = kOwner, .appurl = "javascript:alert(1)"};
    ASSERT_EQ(server->database().insertApp(old), Database::Insert::Added);
    for (const char* missing : {"/andApp9999__android", "/nope", "/a%2Fb", "/..", "/healthz/install",
                                "/unknown0001/install", "/oldLink001/install"})
        EXPECT_EQ(status(get(missing, kIPhone)), 404) << missing;

    r = client().Get("/userdata/iosApp0002", as(kOwner.toStdString(), secret));
    ASSERT_TRUE(r);
    QString error;
    const std::optional<ZUserData> data = ZUserData::fromJson(QByteArray::fromStdString(r->body), &error);
    ASSERT_TRUE(data) << error.toStdString() << r->body;
    ASSERT_EQ(data->response.size(), 4);
    const QStringList platforms = {"ios", "android", "other", "android"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(data->response[i].platform, platforms[i]) << i;
        EXPECT_EQ(data->response[i].appid, "iosApp0002");
        EXPECT_EQ(data->response[i].name, "Tester App");
    }
    EXPECT_EQ(data->response[0].useragent.toStdString(), kIPhone);
    EXPECT_EQ(data->response[3].useragent.toUtf8().size(), 1024);
    EXPECT_NE(data->response[0].id, data->response[1].id);
    EXPECT_LE(std::abs(data->response[0].installedAt.value_or(0) - QDateTime::currentSecsSinceEpoch()), 60);

    EXPECT_EQ(listOf(client().Get("/userdata/andApp0002__android", as(kOwner.toStdString(), secret))).size(),
              1);
}

// Served over TLS (and only so), the profile is signed with the server's certificate and key.
TEST(DeviceCheckOverTls, ProfileIsSignedWithTheServersKey) {
    const QString dir = testsupport::makeTempDir("tls");
    ServerOptions options;
    ASSERT_TRUE(useTls(options, dir));
    auto server = startServer(options);
    ASSERT_TRUE(server);
    httplib::Client plain("127.0.0.1", server->port());
    plain.set_read_timeout(2);
    EXPECT_NE(status(plain.Get("/healthz")), 200) << "plain HTTP is not served on a TLS port";
    httplib::Client c(server->publicUrl().chopped(1).toStdString());
    c.set_ca_cert_path(options.tlsCert.toStdString());
    const QVariantMap fields{{"profilekind", "development"}, {"provisioneddeviceids", kListed}};
    ASSERT_EQ(postApp(c, kOwner, "signed0001", fields, signUp(c, kOwner)), 201);
    const auto r = c.Get("/signed0001/device.mobileconfig");
    ASSERT_EQ(status(r), 200);
    // The server's own certificate, taken as the only authority, vouches for the signature.
    const QString file = testsupport::writeFile(dir + "/profile.der", QByteArray::fromStdString(r->body));
    ASSERT_EQ(QProcess::execute("openssl", {"cms", "-verify", "-CAfile", options.tlsCert, "-purpose", "any",
                                            "-inform", "DER", "-in", file, "-out", dir + "/content"}),
              0);
    EXPECT_EQ(PlistReader::dictionaryFromBytes(testsupport::readFile(dir + "/content"))
                  .value_or(QVariantMap())
                  .value("PayloadType"),
              "Profile Service");

    options.tlsKey = dir + "/missing.pem";
    QString error;
    EXPECT_FALSE(VantryServer::start(options, &error));
    EXPECT_TRUE(error.contains("TLS"));
}

ON_BOTH_ENGINES(PublicPages);

} // namespace
