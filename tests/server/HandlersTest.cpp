// The API handlers as plain functions of a request: routing, authorization, bad input.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/ResetSecret.h"
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
        url = testDatabaseUrl(GetParam(), &error);
        if (url.isEmpty())
            GTEST_SKIP() << error.toStdString();
        db = Database::open(url, &error);
        ASSERT_TRUE(db) << error.toStdString();
        // Users registered before secrets existed: the Authorization value is all they send.
        for (const char* user : {"ann", "bob"})
            ASSERT_EQ(db->saveUser({QString::fromLatin1(user), QStringLiteral("a@x"), QString(), QString()},
                                   {}, {}),
                      Database::UserSave::Added);
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

    QString url;
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

// The provisioning profile keys are stored where sent and left out of the list where not.
TEST_P(HandlersTest, ProfileKeysRoundTrip) {
    const QVariantMap profile{{QStringLiteral("profilekind"), QStringLiteral("ad-hoc")},
                              {QStringLiteral("profileexpiry"), QStringLiteral("2026-05-03")},
                              {QStringLiteral("provisioneddevices"), QStringLiteral("12")}};
    ASSERT_EQ(call("POST", QStringLiteral("/createapp"),
                   appJson(QStringLiteral("ann"), QStringLiteral("with"), profile), QStringLiteral("ann"))
                  .status,
              201);
    ASSERT_EQ(call("POST", QStringLiteral("/createapp"),
                   appBody(QStringLiteral("ann"), QStringLiteral("without")), QStringLiteral("ann"))
                  .status,
              201);
    const QJsonArray apps = json(call("GET", QStringLiteral("/app/ann"), "{}", QStringLiteral("ann")))
                                .value(QStringLiteral("response"))
                                .toArray();
    ASSERT_EQ(apps.size(), 2);
    for (auto it = profile.cbegin(); it != profile.cend(); ++it) {
        EXPECT_EQ(apps.at(0).toObject().value(it.key()), QJsonValue(it.value().toString()))
            << it.key().toStdString();
        EXPECT_FALSE(apps.at(1).toObject().contains(it.key())) << it.key().toStdString();
    }
    EXPECT_EQ(db->appCount(QStringLiteral("ann")), 2);
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
        // An id that never registered gets no records (and so no public pages) on its word alone.
        {"POST", QStringLiteral("/createapp"), appBody(QStringLiteral("carl"), QStringLiteral("carlsapp")),
         QStringLiteral("carl"), 401},
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
        {"profile key not a text", "POST", QStringLiteral("/createapp"),
         appJson(QStringLiteral("ann"), QStringLiteral("p1"), {{QStringLiteral("provisioneddevices"), 12}})
             .replace(R"("12")", "12"),
         400},
        {"profile key too long", "POST", QStringLiteral("/createapp"),
         appJson(QStringLiteral("ann"), QStringLiteral("p2"),
                 {{QStringLiteral("profilekind"), QString(33, 'x')}}),
         400},
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

// What one instance remembers (app lists, known secrets) must never hide what another instance
// wrote to the same database: two handler sets on one database stand in for two servers.
TEST_P(HandlersTest, RememberedAnswersFollowWritesOfAnotherInstance) {
    ApiHandlers second(*db, ApiHandlers::Settings{QStringLiteral("https://v.test/"), 1.5});
    Router secondRouter;
    second.registerRoutes(secondRouter);
    const auto appIds = [this](const QString& secret) {
        ApiRequest r;
        r.method = QStringLiteral("GET");
        r.path = QStringLiteral("/app/ann");
        r.headers.insert(QStringLiteral("authorization"), QStringLiteral("ann"));
        if (!secret.isEmpty())
            r.headers.insert(QStringLiteral("x-vantry-secret"), secret);
        const ApiResponse answer = router.dispatch(r);
        QStringList ids;
        for (const QJsonValue& app : json(answer).value(QStringLiteral("response")).toArray())
            ids << app.toObject().value(QStringLiteral("appid")).toString();
        return std::make_pair(answer.status, ids);
    };
    const auto createOnSecond = [&](const QString& appid, const QString& secret) {
        ApiRequest r;
        r.method = QStringLiteral("POST");
        r.path = QStringLiteral("/createapp");
        r.body = appBody(QStringLiteral("ann"), appid);
        r.headers.insert(QStringLiteral("authorization"), QStringLiteral("ann"));
        if (!secret.isEmpty())
            r.headers.insert(QStringLiteral("x-vantry-secret"), secret);
        return secondRouter.dispatch(r).status;
    };

    ASSERT_EQ(createOnSecond(QStringLiteral("one"), {}), 201);
    EXPECT_EQ(appIds({}), std::make_pair(200, QStringList{QStringLiteral("one")}));
    ASSERT_EQ(createOnSecond(QStringLiteral("two"), {}), 201);
    EXPECT_EQ(appIds({}), std::make_pair(200, QStringList{QStringLiteral("one"), QStringLiteral("two")}));

    // Ann registers through the second instance: the first, which took her on trust a moment
    // ago, now asks for the secret as well.
    ApiRequest registration;
    registration.method = QStringLiteral("POST");
    registration.path = QStringLiteral("/addnewuser");
    registration.body = R"({"email":"a@x","username":"Ann","photoURL":"","userid":"ann"})";
    const QString secret =
        json(secondRouter.dispatch(registration)).value(QStringLiteral("userSecret")).toString();
    ASSERT_FALSE(secret.isEmpty());
    EXPECT_EQ(appIds({}).first, 401);
    EXPECT_EQ(appIds(QStringLiteral("wrong")).first, 401);
    ASSERT_EQ(createOnSecond(QStringLiteral("three"), secret), 201);
    EXPECT_EQ(appIds(secret).second,
              (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
    EXPECT_EQ(appIds({}).first, 401);
}

// Records are bounded per user and per client address, whichever runs out first.
TEST_P(HandlersTest, CreateAppIsBoundedPerUserAndPerAddress) {
    ApiHandlers::Settings settings{QStringLiteral("https://v.test/"), 1.5};
    settings.appsPerMinute = 2;
    ApiHandlers limited(*db, settings);
    Router limitedRouter;
    limited.registerRoutes(limitedRouter);
    const struct {
        const char* user;
        const char* peer;
        int status;
    } cases[] = {
        {"ann", "10.0.0.1", 201}, {"ann", "10.0.0.1", 201},
        {"ann", "10.0.0.2", 429}, // Ann's minute is spent, from any address
        {"bob", "10.0.0.1", 429}, // and so is the address's, for any user
        {"bob", "10.0.0.3", 201},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " from " + c.peer);
        ApiRequest r;
        r.method = QStringLiteral("POST");
        r.path = QStringLiteral("/createapp");
        r.peer = QString::fromLatin1(c.peer);
        r.headers.insert(QStringLiteral("authorization"), QString::fromLatin1(c.user));
        r.body = appBody(QString::fromLatin1(c.user), QStringLiteral("app%1").arg(n++));
        const ApiResponse answer = limitedRouter.dispatch(r);
        EXPECT_EQ(answer.status, c.status);
        int retryAfter = 0;
        for (const auto& [name, value] : answer.headers)
            if (name == "Retry-After")
                retryAfter = value.toInt();
        EXPECT_EQ(retryAfter > 0, c.status == 429) << retryAfter;
    }
    EXPECT_EQ(db->appCount(QStringLiteral("ann")), 2);
    EXPECT_EQ(db->appCount(QStringLiteral("bob")), 1);
}

// The operator's reset of a lost secret, run beside two instances on the database: each refuses
// the old secret once the time it trusts a remembered secret has passed (its clock is moved on
// here), and the secret the next registration issues works on every instance at once.
TEST_P(HandlersTest, AResetSecretReachesEveryInstance) {
    const std::chrono::milliseconds life = std::chrono::seconds(5);
    std::chrono::milliseconds elapsed[2] = {};
    std::unique_ptr<Database> databases[2];
    std::unique_ptr<ApiHandlers> instances[2];
    Router routers[2];
    for (int i = 0; i < 2; ++i) {
        QString error;
        ASSERT_TRUE(databases[i] = Database::open(url, &error)) << error.toStdString();
        ApiHandlers::Settings settings{QStringLiteral("https://v.test/"), 1.5};
        settings.secretLife = life;
        settings.clock = [&elapsed, i] { return std::chrono::steady_clock::time_point() + elapsed[i]; };
        instances[i] = std::make_unique<ApiHandlers>(*databases[i], settings);
        instances[i]->registerRoutes(routers[i]);
    }
    const auto send = [&](int instance, const char* method, const char* path, const QString& secret) {
        ApiRequest r;
        r.method = QString::fromLatin1(method);
        r.path = QString::fromLatin1(path);
        r.body = R"({"email":"d@x","username":"Dora","photoURL":"","userid":"dora"})";
        r.headers.insert(QStringLiteral("authorization"), QStringLiteral("dora"));
        if (!secret.isEmpty())
            r.headers.insert(QStringLiteral("x-vantry-secret"), secret);
        return routers[instance].dispatch(r);
    };
    const QString oldSecret =
        json(send(0, "POST", "/addnewuser", {})).value(QStringLiteral("userSecret")).toString();
    ASSERT_FALSE(oldSecret.isEmpty());
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(send(i, "GET", "/app/dora", oldSecret).status, 200) << i;

    ServerOptions options;
    options.database = url;
    QString message;
    options.resetSecretOf = QStringLiteral("nobody");
    EXPECT_EQ(runResetSecret(options, &message), 1) << message.toStdString();
    options.resetSecretOf = QStringLiteral("dora");
    ASSERT_EQ(runResetSecret(options, &message), 0) << message.toStdString();

    elapsed[0] += life;
    EXPECT_EQ(send(0, "GET", "/app/dora", oldSecret).status, 401);
    const ApiResponse again = send(0, "POST", "/addnewuser", oldSecret);
    EXPECT_EQ(again.status, 200);
    const QString newSecret = json(again).value(QStringLiteral("userSecret")).toString();
    ASSERT_FALSE(newSecret.isEmpty());
    EXPECT_EQ(send(1, "GET", "/app/dora", newSecret).status, 200);
    EXPECT_EQ(send(1, "GET", "/app/dora", oldSecret).status, 401);
    EXPECT_EQ(send(0, "GET", "/app/dora", newSecret).status, 200);
}

INSTANTIATE_TEST_SUITE_P(Engines, HandlersTest, ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

} // namespace
