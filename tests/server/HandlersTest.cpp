// The API handlers as plain functions of a request: routing, authorization, bad input.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Router.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kTrickyName = QString::fromUtf8("Quote \" back\\slash\nline\ttab \x01 é 🚀 </script>");

QByteArray appBody(const QString& owner, const QString& appid) {
    return appJson(owner, appid, {{QStringLiteral("appname"), kTrickyName}});
}

// Every case runs on SQLite and on PostgreSQL: the handlers must not tell the engines apart.
class HandlersTest : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        QString error;
        const QString url = testDatabaseUrl(GetParam(), &error);
        if (url.isEmpty())
            GTEST_SKIP() << error.toStdString();
        db = Database::open(url, &error);
        ASSERT_TRUE(db) << error.toStdString();
        handlers =
            std::make_unique<ApiHandlers>(*db, ApiHandlers::Settings{QStringLiteral("https://v.test/"), 1.5});
        handlers->registerRoutes(router);
    }

    ApiResponse call(const char* method, const QString& path, const QByteArray& body = "{}",
                     const QString& authorization = QString()) {
        ApiRequest r;
        r.method = QString::fromLatin1(method);
        r.path = path;
        r.body = body;
        if (!authorization.isNull())
            r.headers.insert(QStringLiteral("authorization"), authorization);
        return router.dispatch(r);
    }
    static QJsonObject json(const ApiResponse& r) { return QJsonDocument::fromJson(r.body).object(); }

    // Everything the service holds, to show a refused request changed nothing.
    QString snapshot() {
        QString out;
        for (const QString& user : {QStringLiteral("ann"), QStringLiteral("bob")}) {
            for (const StoredApp& a : db->appsOf(user).value_or(QList<StoredApp>()))
                out += a.appid + a.appname + QLatin1Char(';');
            if (auto u = db->user(user))
                out += u->email + QLatin1Char(';');
        }
        return out + QString::number(db->crashCount().value_or(-1));
    }

    std::unique_ptr<Database> db;
    std::unique_ptr<ApiHandlers> handlers;
    Router router;
};

TEST_P(HandlersTest, AppsRoundTripWithReadKeysAndPublicLink) {
    ApiResponse created =
        call("POST", QStringLiteral("/createapp"),
             appBody(QStringLiteral("ann"), QStringLiteral("Xy_9-abc__android")), QStringLiteral("ann"));
    EXPECT_EQ(created.status, 201);
    EXPECT_EQ(json(created),
              QJsonDocument::fromJson(R"({"isSuccess":true,"response":{"url":"https://v.test/Xy_9-abc"}})")
                  .object());

    const QJsonObject listed = json(call("GET", QStringLiteral("/app/ann"), "{}", QStringLiteral("ann")));
    EXPECT_EQ(listed.value(QStringLiteral("isSuccess")), QJsonValue(true));
    // Everything comes back as sent, with minos and qrLink under their read keys.
    QJsonObject sent =
        QJsonDocument::fromJson(appBody(QStringLiteral("ann"), QStringLiteral("Xy_9-abc__android"))).object();
    sent.insert(QStringLiteral("minOS"), sent.take(QStringLiteral("minos")));
    sent.insert(QStringLiteral("QRLink"), sent.take(QStringLiteral("qrLink")));
    EXPECT_EQ(listed.value(QStringLiteral("response")).toArray().at(0).toObject(), sent);

    EXPECT_EQ(call("POST", QStringLiteral("/createapp"),
                   appBody(QStringLiteral("ann"), QStringLiteral("Xy_9-abc__android")), QStringLiteral("ann"))
                  .status,
              409);
    EXPECT_EQ(json(call("GET", QStringLiteral("/checkversion")))
                  .value(QStringLiteral("response"))
                  .toObject()
                  .value(QStringLiteral("version")),
              QJsonValue(1.5));
}

TEST_P(HandlersTest, AddNewUserInsertsThenUpdates) {
    const QByteArray first = R"({"email":"a@x","username":"Ann","photoURL":"","userid":"dbid:AAH-ann_1"})";
    const ApiResponse added = call("POST", QStringLiteral("/addnewuser"), first);
    EXPECT_EQ(added.status, 201);
    ApiRequest update;
    update.method = QStringLiteral("POST");
    update.path = QStringLiteral("/addnewuser");
    update.body = QByteArray(first).replace("a@x", "new@x");
    update.headers.insert(QStringLiteral("x-vantry-secret"),
                          json(added).value(QStringLiteral("userSecret")).toString());
    EXPECT_EQ(router.dispatch(update).status, 200);
    EXPECT_EQ(db->user(QStringLiteral("dbid:AAH-ann_1"))->email, QStringLiteral("new@x"));
}

TEST_P(HandlersTest, AuthorizationRules) {
    ASSERT_EQ(call("POST", QStringLiteral("/createapp"),
                   appBody(QStringLiteral("ann"), QStringLiteral("annsapp")), QStringLiteral("ann"))
                  .status,
              201);
    const QString before = snapshot();
    struct Case {
        const char* method;
        QString path;
        QByteArray body;
        QString authorization; // null: header absent
        int status;
    };
    const Case cases[] = {
        {"GET", QStringLiteral("/app/ann"), "{}", QString(), 401},
        {"GET", QStringLiteral("/app/ann"), "{}", QStringLiteral(""), 401},
        {"GET", QStringLiteral("/app/ann"), "{}", QStringLiteral("bob"), 403},
        {"GET", QStringLiteral("/app/"), "{}", QStringLiteral(""), 401},
        {"GET", QStringLiteral("/app/ann"), "{}", QStringLiteral("Bearer ann"), 401},
        {"GET", QStringLiteral("/userdata/annsapp"), "{}", QString(), 401},
        {"GET", QStringLiteral("/userdata/annsapp"), "{}", QStringLiteral("bob"), 403},
        {"GET", QStringLiteral("/userdata/nosuchapp"), "{}", QStringLiteral("ann"), 404},
        {"POST", QStringLiteral("/createapp"), appBody(QStringLiteral("bob"), QStringLiteral("bobsapp")),
         QString(), 401},
        {"POST", QStringLiteral("/createapp"), appBody(QStringLiteral("ann"), QStringLiteral("bobsapp")),
         QStringLiteral("bob"), 403},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.path + QLatin1Char(' ') + c.authorization).toStdString());
        const ApiResponse r = call(c.method, c.path, c.body, c.authorization);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(json(r).value(QStringLiteral("isSuccess")), QJsonValue(false));
        EXPECT_TRUE(json(r).value(QStringLiteral("response")).isString());
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(call("GET", QStringLiteral("/app/ann"), "{}", QStringLiteral("ann")).status, 200);
    EXPECT_EQ(call("GET", QStringLiteral("/userdata/annsapp"), "{}", QStringLiteral("ann")).status, 200);
}

TEST_P(HandlersTest, BadInputAnswers4xxAndChangesNothing) {
    const QString before = snapshot();
    const QByteArray user = R"({"email":"a@x","username":"Ann","photoURL":"","userid":"ann"})";
    struct Case {
        const char* name;
        const char* method;
        QString path;
        QByteArray body;
        int status;
    };
    const Case cases[] = {
        {"malformed json", "POST", QStringLiteral("/addnewuser"), R"({"email":)", 400},
        {"not an object", "POST", QStringLiteral("/addnewuser"), "[1,2]", 400},
        {"empty body", "POST", QStringLiteral("/reportcrash"), "", 400},
        {"missing key", "POST", QStringLiteral("/addnewuser"),
         QByteArray(user).replace(R"("email":"a@x",)", ""), 400},
        {"number for text", "POST", QStringLiteral("/addnewuser"), QByteArray(user).replace(R"("Ann")", "7"),
         400},
        {"null for text", "POST", QStringLiteral("/reportcrash"),
         R"({"name":null,"reason":"","exception":"","callStackSymbols":""})", 400},
        {"user id with slash", "POST", QStringLiteral("/addnewuser"),
         QByteArray(user).replace(R"("ann")", R"("../ann")"), 400},
        {"user id empty", "POST", QStringLiteral("/addnewuser"),
         QByteArray(user).replace(R"("ann")", R"("")"), 400},
        {"app id with space", "POST", QStringLiteral("/createapp"),
         appBody(QStringLiteral("ann"), QStringLiteral("a b")), 400},
        {"app id with quote", "POST", QStringLiteral("/createapp"),
         appBody(QStringLiteral("ann"), QStringLiteral("a'--")), 400},
        {"app id too long", "POST", QStringLiteral("/createapp"),
         appBody(QStringLiteral("ann"), QString(65, QLatin1Char('a'))), 400},
        {"app id in path", "GET", QStringLiteral("/userdata/a%20b"), "{}", 400},
        {"unknown path", "GET", QStringLiteral("/admin"), "{}", 404},
        {"deeper path", "GET", QStringLiteral("/app/ann/extra"), "{}", 404},
        {"wrong method", "GET", QStringLiteral("/createapp"), "{}", 405},
        {"wrong method on read", "POST", QStringLiteral("/checkversion"), "{}", 405},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ApiResponse r = call(c.method, c.path, c.body, QStringLiteral("ann"));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(json(r).value(QStringLiteral("isSuccess")), QJsonValue(false));
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_P(HandlersTest, InstallsComeBackAsStrictResponses) {
    ASSERT_EQ(call("POST", QStringLiteral("/createapp"),
                   appBody(QStringLiteral("ann"), QStringLiteral("annsapp")), QStringLiteral("ann"))
                  .status,
              201);
    db->insertInstall({QStringLiteral("1"), QStringLiteral("annsapp"), QStringLiteral("iOS"),
                       QStringLiteral("x"), QStringLiteral("UA 1")});
    db->insertInstall({QStringLiteral("2"), QStringLiteral("annsapp"), QStringLiteral("Android"),
                       QStringLiteral("x"), QStringLiteral("UA 2")});
    const ApiResponse r = call("GET", QStringLiteral("/userdata/annsapp"), "{}", QStringLiteral("ann"));
    const QJsonArray list = json(r).value(QStringLiteral("response")).toArray();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(1).toObject().value(QStringLiteral("useragent")).toString(), QStringLiteral("UA 2"));
    for (const char* key : {"udid", "devicename", "deviceversion"})
        EXPECT_TRUE(list.at(0).toObject().value(QString::fromLatin1(key)).isNull()) << key;
    const qint64 installedAt = qint64(list.at(0).toObject().value(QStringLiteral("installedAt")).toDouble());
    EXPECT_LE(std::abs(installedAt - QDateTime::currentSecsSinceEpoch()), 60);
}

INSTANTIATE_TEST_SUITE_P(Engines, HandlersTest, ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

} // namespace
