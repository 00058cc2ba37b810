// The device check end to end: a simulated phone installs the profile, signs its answer with a
// certificate of its own and lands on the install page, on either engine.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "inspect/PackageFactory.h"
#include "plist/Der.h"
#include "plist/PlistReader.h"
#include "server/Database.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrl>
#include <QVariantList>

namespace {

const std::string kIPhone = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 "
                            "(KHTML, like Gecko) Version/17.5 Mobile/15E148 Safari/604.1";
const std::string kIPad = "Mozilla/5.0 (iPad; CPU OS 17_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
                          "Gecko) Version/17.5 Mobile/15E148 Safari/604.1";
const std::string kAndroid =
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/125.0 Mobile Safari/537.36";
const std::string kDesktop = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                             "Chrome/125.0 Safari/537.36";
const QString kListed = QStringLiteral("00008101-000A1B2C3D4E5F60");
const QString kOld = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
const QString kMissing = QStringLiteral("00008030-001A35E11A88802E");
const QString kOwner = QStringLiteral("dev-1");

// The phone's answer: the list signed into a CMS message with a certificate the test made.
QByteArray signedByPhone(const QByteArray& content) {
    static const QString dir = [] {
        const QString d = testsupport::makeTempDir(QStringLiteral("phone"));
        return makeCertificate(d) ? d : QString();
    }();
    const QString work = testsupport::makeTempDir(QStringLiteral("answer"));
    testsupport::writeFile(work + QStringLiteral("/in"), content);
    QProcess::execute(QStringLiteral("openssl"),
                      {"cms", "-sign", "-nodetach", "-binary", "-outform", "DER", "-in", work + "/in", "-out",
                       work + "/out", "-signer", dir + "/cert.pem", "-inkey", dir + "/key.pem"});
    return testsupport::readFile(work + QStringLiteral("/out"));
}

QByteArray answerPlist(const QString& udid, const QString& challenge, const QString& padding = {}) {
    return packages::xmlPlist(QVariantMap{{"UDID", udid},
                                          {"PRODUCT", "iPhone15,2"},
                                          {"VERSION", "21F90"},
                                          {"DEVICE_NAME", "Ann's iPhone"},
                                          {"CHALLENGE", challenge},
                                          {"PAD", padding}});
}

class DeviceCheck : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        QString reason;
        ServerOptions options;
        options.database = testDatabaseUrl(GetParam(), &reason);
        if (options.database.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        options.installsPerMinute = 0;
        server = startServer(options);
        ASSERT_TRUE(server);
        httplib::Client c = client();
        const auto r = c.Post(
            "/addnewuser", R"({"email":"dev@example.com","username":"Dev","photoURL":"","userid":"dev-1"})",
            "application/json");
        ASSERT_EQ(status(r), 201);
        secret = QJsonDocument::fromJson(QByteArray::fromStdString(r->body))
                     .object()
                     .value(QStringLiteral("userSecret"))
                     .toString()
                     .toStdString();
    }
    httplib::Client client() const { return httplib::Client("127.0.0.1", server->port()); }
    int publish(const QString& appid, const QString& kind, const QString& ids = kListed + ',' + kOld) {
        httplib::Client c = client();
        QVariantMap fields{{QStringLiteral("appname"), QStringLiteral("Tester App")}};
        if (!kind.isEmpty())
            fields.insert(QStringLiteral("profilekind"), kind);
        if (!ids.isNull())
            fields.insert(QStringLiteral("provisioneddeviceids"), ids);
        return postApp(c, kOwner, appid, fields, secret);
    }
    std::string page(const std::string& path, const std::string& agent = kIPhone) const {
        const auto r = client().Get(path, {{"User-Agent", agent}});
        return status(r) == 200 ? r->body : std::string("status ") + std::to_string(status(r));
    }
    // The profile the phone downloads, read back; its challenge.
    QVariantMap profile(const QString& appid) const {
        const auto r =
            client().Get(("/" + appid + "/device.mobileconfig").toStdString(), {{"User-Agent", kIPhone}});
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

TEST_P(DeviceCheck, PhoneIsSentToItsAnswer) {
    ASSERT_EQ(publish(QStringLiteral("adhoc00001"), QStringLiteral("ad-hoc")), 201);
    const QVariantMap payload = profile(QStringLiteral("adhoc00001"));
    EXPECT_EQ(payload.value("PayloadType"), QStringLiteral("Profile Service"));
    const QVariantMap content = payload.value("PayloadContent").toMap();
    EXPECT_EQ(content.value("URL"), server->publicUrl() + QStringLiteral("adhoc00001/device"));
    EXPECT_EQ(content.value("DeviceAttributes").toStringList(),
              (QStringList{"UDID", "PRODUCT", "VERSION", "DEVICE_NAME"}));
    EXPECT_EQ(content.value("Challenge").toString().size(), 32);
    EXPECT_EQ(payload.value("PayloadVersion").toInt(), 1);

    const testsupport::LogCapture log;
    for (const QString& udid : {kListed, kOld.toUpper(), kMissing}) {
        SCOPED_TRACE(udid.toStdString());
        const bool included = udid != kMissing;
        const auto r = answer(QStringLiteral("adhoc00001"),
                              signedByPhone(answerPlist(udid, challenge(QStringLiteral("adhoc00001")))));
        ASSERT_EQ(status(r), 301);
        const QUrl location(QString::fromStdString(r->get_header_value("Location")));
        EXPECT_EQ(location.toString(QUrl::RemoveQuery), server->publicUrl() + QStringLiteral("adhoc00001"));
        const std::string shown = page(location.path().toStdString() + "?" + location.query().toStdString());
        const std::string other = page("/adhoc00001?device=someone-elses-check");
        EXPECT_EQ(shown.find("This build includes your device.</p><p class=\"note\" id=\"device-model\">"
                             "iPhone15,2 · iOS build 21F90</p>") != std::string::npos,
                  included);
        EXPECT_EQ(shown.find("This build does not include your device. Send this code to the developer:") !=
                      std::string::npos,
                  !included);
        EXPECT_EQ(shown.find("id=\"install\"") != std::string::npos, included);
        EXPECT_EQ(shown.find("id=\"copy-udid\"") != std::string::npos, !included);
        EXPECT_EQ(shown.find("href=\"mailto:dev@example.com?subject=") != std::string::npos, !included);
        EXPECT_EQ(shown.find("Device%20ID%3A%20" + udid.toStdString()) != std::string::npos, !included);
        EXPECT_EQ(shown.find(udid.toStdString()) != std::string::npos, !included)
            << "only its own check shows it";
        EXPECT_NE(other.find("This device check has expired"), std::string::npos);
        EXPECT_EQ(other.find(udid.toStdString()), std::string::npos);
    }
    EXPECT_EQ(checksOf(QStringLiteral("adhoc00001")), 3);
    const auto apps = client().Get("/app/dev-1", {{"Authorization", "dev-1"}, {"X-Vantry-Secret", secret}});
    ASSERT_EQ(status(apps), 200);
    for (const QString& udid : {kListed, kOld, kMissing}) {
        EXPECT_FALSE(log.joined().contains(udid, Qt::CaseInsensitive)) << log.joined().toStdString();
        EXPECT_EQ(apps->body.find(udid.toStdString()), std::string::npos);
    }
}

TEST_P(DeviceCheck, RefusedAnswersStoreNothing) {
    ASSERT_EQ(publish(QStringLiteral("adhoc00002"), QStringLiteral("development")), 201);
    ASSERT_EQ(publish(QStringLiteral("adhoc00003"), QStringLiteral("ad-hoc")), 201);
    const QString used = challenge(QStringLiteral("adhoc00002"));
    ASSERT_EQ(status(answer(QStringLiteral("adhoc00002"), signedByPhone(answerPlist(kListed, used)))), 301);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(server->database().insertDeviceChallenge(QStringLiteral("stale"),
                                                         QStringLiteral("adhoc00002"), now - 1, now - 3600));
    const struct {
        const char* name;
        QByteArray body;
    } cases[] = {
        {"a used challenge", signedByPhone(answerPlist(kListed, used))},
        {"another app's challenge",
         signedByPhone(answerPlist(kListed, challenge(QStringLiteral("adhoc00003"))))},
        {"an expired challenge", signedByPhone(answerPlist(kListed, QStringLiteral("stale")))},
        {"no CMS", answerPlist(kListed, challenge(QStringLiteral("adhoc00002")))},
        {"no UDID",
         signedByPhone(answerPlist(QStringLiteral("phone"), challenge(QStringLiteral("adhoc00002"))))},
        {"100,000 deep", signedByPhone(packages::deepBinaryPlist(100000))},
        {"6,500 deep", signedByPhone(packages::deepBinaryPlist(6500))},
        {"65 KiB", signedByPhone(answerPlist(kListed, challenge(QStringLiteral("adhoc00002")),
                                             QString(65 * 1024, QLatin1Char('x'))))},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.body.isEmpty()) << c.name;
        EXPECT_EQ(status(answer(QStringLiteral("adhoc00002"), c.body)), 400) << c.name;
    }
    EXPECT_GT(cases[5].body.size(), 64 * 1024);
    EXPECT_LT(cases[6].body.size(), 64 * 1024);
    EXPECT_EQ(checksOf(QStringLiteral("adhoc00002")), 1);
    EXPECT_EQ(checksOf(QStringLiteral("adhoc00003")), 0);

    // A check older than 30 days shows nothing and leaves the owner's list.
    ASSERT_EQ(server->database().insertDeviceCheck(
                  {QStringLiteral("old-check"), QStringLiteral("adhoc00002"), kMissing,
                   QStringLiteral("iPhone9,1"), QStringLiteral("15A372"), QString(), false, now - 31 * 86400},
                  0),
              Database::Insert::Added);
    const std::string old = page("/adhoc00002?device=old-check");
    EXPECT_NE(old.find("This device check has expired"), std::string::npos);
    EXPECT_EQ(old.find(kMissing.toStdString()), std::string::npos);
    const auto listed =
        client().Get("/devices/adhoc00002", {{"Authorization", "dev-1"}, {"X-Vantry-Secret", secret}});
    ASSERT_EQ(status(listed), 200);
    EXPECT_EQ(listed->body.find(kMissing.toStdString()), std::string::npos);
}

TEST_P(DeviceCheck, OfferedOnlyToIosVisitorsOfBuildsWithTheirList) {
    const struct {
        const char* appid;
        const char* kind;
        QString ids;
        bool checkable; // its profile answers
    } apps[] = {{"withlist01", "ad-hoc", kListed, true},     {"develop001", "development", kOld, true},
                {"nolist0001", "ad-hoc", QString(), false},  {"inhouse001", "enterprise", kListed, false},
                {"store00001", "app-store", kListed, false}, {"droid00001__android", "", kListed, false}};
    for (const auto& a : apps) {
        ASSERT_EQ(publish(QLatin1String(a.appid), QLatin1String(a.kind), a.ids), 201) << a.appid;
        EXPECT_EQ(!challenge(QString(QLatin1String(a.appid)).remove("__android")).isEmpty(), a.checkable)
            << a.appid;
    }
    const struct {
        const char* path;
        const std::string& agent;
        bool offered;
    } cases[] = {
        {"/withlist01", kIPhone, true},   {"/withlist01", kIPad, true},     {"/develop001", kIPhone, true},
        {"/withlist01", kDesktop, false}, {"/withlist01", kAndroid, false}, {"/nolist0001", kIPhone, false},
        {"/inhouse001", kIPhone, false},  {"/store00001", kIPhone, false},  {"/droid00001", kIPhone, false}};
    for (const auto& c : cases)
        EXPECT_EQ(page(c.path, c.agent).find("Check my device") != std::string::npos, c.offered)
            << c.path << ' ' << c.agent;
    // A list the server cannot check against is refused with the app.
    for (const QString& bad : {QStringLiteral(""), kListed + QStringLiteral(",phone"), kListed.left(24),
                               QStringList(1001, kListed).join(',')})
        EXPECT_EQ(publish(QStringLiteral("badlist001"), QStringLiteral("ad-hoc"), bad), 400)
            << bad.left(40).toStdString();
}

TEST_P(DeviceCheck, OnlyTheOwnerReadsTheChecksNewestFirst) {
    ASSERT_EQ(publish(QStringLiteral("adhoc00004"), QStringLiteral("ad-hoc")), 201);
    for (const QString& udid : {kListed, kMissing})
        ASSERT_EQ(status(answer(QStringLiteral("adhoc00004"),
                                signedByPhone(answerPlist(udid, challenge(QStringLiteral("adhoc00004")))))),
                  301);
    httplib::Client c = client();
    const std::string stranger = signUp(c, QStringLiteral("stranger"));
    const struct {
        httplib::Headers headers;
        int status;
    } cases[] = {{{}, 401},
                 {{{"Authorization", "dev-1"}}, 401},
                 {{{"Authorization", "dev-1"}, {"X-Vantry-Secret", "wrong"}}, 401},
                 {{{"Authorization", "stranger"}, {"X-Vantry-Secret", stranger}}, 403},
                 {{{"Authorization", "dev-1"}, {"X-Vantry-Secret", secret}}, 200}};
    for (const auto& k : cases)
        EXPECT_EQ(status(c.Get("/devices/adhoc00004", k.headers)), k.status);
    const auto r = c.Get("/devices/adhoc00004", cases[4].headers);
    const QJsonArray list =
        QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value("response").toArray();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0).toObject().value("udid"), kMissing);
    EXPECT_EQ(list.at(0).toObject().value("included"), false);
    EXPECT_EQ(list.at(1).toObject().value("included"), true);
    EXPECT_EQ(list.at(1).toObject().value("product"), QStringLiteral("iPhone15,2"));
    EXPECT_EQ(list.at(1).toObject().value("devicename"), QStringLiteral("Ann's iPhone"));
    EXPECT_EQ(status(c.Get("/devices/unknown001", cases[4].headers)), 404);
}

// Served over TLS, the profile is signed with the server's certificate and key.
TEST(DeviceCheckOverTls, ProfileIsSignedWithTheServersKey) {
    const QString dir = testsupport::makeTempDir(QStringLiteral("tls"));
    ASSERT_TRUE(makeCertificate(dir));
    ServerOptions options;
    options.tlsCert = dir + QStringLiteral("/cert.pem");
    options.tlsKey = dir + QStringLiteral("/key.pem");
    auto server = startServer(options);
    ASSERT_TRUE(server);
    httplib::Client c(QStringLiteral("https://127.0.0.1:%1").arg(server->port()).toStdString());
    c.set_ca_cert_path(options.tlsCert.toStdString());
    const std::string secret = signUp(c, kOwner);
    ASSERT_EQ(postApp(c, kOwner, QStringLiteral("signed0001"),
                      {{"profilekind", "development"}, {"provisioneddeviceids", kListed}}, secret),
              201);
    const auto r = c.Get("/signed0001/device.mobileconfig");
    ASSERT_EQ(status(r), 200);
    const QByteArray body = QByteArray::fromStdString(r->body);
    const auto content = Der::signedContent(body);
    ASSERT_TRUE(content);
    EXPECT_EQ(PlistReader::dictionaryFromBytes(*content).value_or(QVariantMap()).value("PayloadType"),
              QStringLiteral("Profile Service"));
    const QString file = testsupport::writeFile(dir + QStringLiteral("/profile.der"), body);
    EXPECT_EQ(QProcess::execute(QStringLiteral("openssl"), {"cms", "-verify", "-noverify", "-inform", "DER",
                                                            "-in", file, "-out", dir + "/content"}),
              0);
}

INSTANTIATE_TEST_SUITE_P(Engines, DeviceCheck, ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

} // namespace
