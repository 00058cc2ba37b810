// The public side of the service: install pages and install tracking, over real sockets.
#include "RawSocket.h"
#include "ServerTestUtil.h"
#include "records/ZUserData.h"

namespace {

const std::string kOwner = "owner-1";

class PublicPages : public ::testing::Test {
protected:
    void SetUp() override {
        server = startServer(
            {.installRepeatWindow = 0, // every install here is counted
             .qrRenderer = [](const QString& url) { return "<svg data-url=\"" + url + "\"></svg>"; }});
        ASSERT_TRUE(server);
        httplib::Client c = client();
        ASSERT_FALSE((secret = signUp(c, QString::fromStdString(kOwner))).empty());
    }

    httplib::Client client() const { return httplib::Client("127.0.0.1", server->port()); }

    void createApp(const QString& appid, const QString& name, const QString& url) {
        httplib::Client c = client();
        ASSERT_EQ(
            postApp(c, QString::fromStdString(kOwner), appid, {{"appname", name}, {"appurl", url}}, secret),
            201);
    }

    httplib::Result get(const std::string& path, const std::string& agent) const {
        return client().Get(path, {{"User-Agent", agent}});
    }

    // The Location header as sent: httplib's client percent-decodes header values.
    QByteArray rawLocation(const std::string& path, const std::string& agent) const {
        const QByteArray answer = RawSocket::exchange(
            server->port(), QByteArray::fromStdString("GET " + path + " HTTP/1.1\r\nHost: t\r\nUser-Agent: " +
                                                      agent + "\r\nConnection: close\r\n\r\n"));
        for (const QByteArray& line : answer.split('\n'))
            if (line.toLower().startsWith("location: "))
                return line.mid(10).trimmed();
        return {};
    }

    std::unique_ptr<VantryServer> server;
    std::string secret; // the owner's
};

} // namespace

TEST_F(PublicPages, InstallsAreCountedByPlatformAndRedirect) {
    const QString manifest = "itms-services://?action=download-manifest&url=https%3A%2F%2Fd%2Fm.plist";
    createApp("iosApp0002", "Demo", manifest);
    createApp("andApp0002__android", "Droid", "https://d/app.apk");

    const std::string longAgent = kAndroid + std::string(2000, 'x');
    for (const std::string& agent : {kIPhone, kAndroid, kDesktop, longAgent})
        EXPECT_EQ(rawLocation("/iosApp0002/install", agent), manifest.toUtf8());
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
    for (const char* missing :
         {"/andApp9999__android", "/nope", "/a%2Fb", "/..", "/healthz/install", "/unknown0001/install"})
        EXPECT_EQ(status(get(missing, kIPhone)), 404) << missing;

    r = client().Get("/userdata/iosApp0002", as(kOwner, secret));
    ASSERT_TRUE(r);
    QString error;
    const std::optional<ZUserData> data = ZUserData::fromJson(QByteArray::fromStdString(r->body), &error);
    ASSERT_TRUE(data) << error.toStdString() << r->body;
    ASSERT_EQ(data->response.size(), 4);
    const QStringList platforms = {"ios", "android", "other", "android"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(data->response[i].platform, platforms[i]) << i;
        EXPECT_EQ(data->response[i].appid, "iosApp0002");
        EXPECT_EQ(data->response[i].name, "Demo");
    }
    EXPECT_EQ(data->response[0].useragent.toStdString(), kIPhone);
    EXPECT_EQ(data->response[3].useragent.toUtf8().size(), 1024);
    EXPECT_NE(data->response[0].id, data->response[1].id);
    EXPECT_LE(std::abs(data->response[0].installedAt.value_or(0) - QDateTime::currentSecsSinceEpoch()), 60);

    EXPECT_EQ(listOf(client().Get("/userdata/andApp0002__android", as(kOwner, secret))).size(), 1);
}
