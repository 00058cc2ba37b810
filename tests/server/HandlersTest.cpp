// The API and page handlers as plain functions of a request, on both engines: routing,
// authorization, bad input, what instances share, the stable link of an app's builds and the
// editing of its notes.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/ResetSecret.h"
#include "server/Router.h"
#include "server/pages/PageHandlers.h"

#include <QRegularExpression>

namespace {

const QString kTrickyName = QString::fromUtf8("Quote \" back\\slash\nline\ttab \x01 é 🚀 </script>");

QByteArray appBody(const QString& owner, const QString& appid) {
    return appJson(owner, appid, {{"appname", kTrickyName}});
}

// One set of handlers (one instance of the service) on a database, asked from an iPhone.
struct Instance {
    explicit Instance(Database& db, ApiHandlers::Settings settings = {"https://v.test/", 1.5},
                      bool withPages = false)
        : handlers(db, settings) {
        handlers.registerRoutes(router);
        if (withPages)
            pages.emplace(db, "https://v.test/", nullptr).registerRoutes(router);
    }
    ApiResponse operator()(const char* method, const QString& path, const QByteArray& body = "{}",
                           const QString& user = {}, const QString& secret = {}) {
        ApiRequest r = request(method, path, body, user, secret);
        r.headers.insert("user-agent", QString::fromStdString(kIPhone));
        return router.dispatch(r);
    }
    ApiHandlers handlers;
    std::optional<PageHandlers> pages;
    Router router;
};

// Every case runs on SQLite and on PostgreSQL: the handlers must not tell the engines apart.
class HandlersTest : public EngineDatabaseTest {
protected:
    void SetUp() override {
        EngineDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Users registered before secrets existed: the Authorization value is all they send.
        for (const char* user : {"ann", "bob"})
            ASSERT_EQ(db->saveUser({user, "a@x", "", ""}, {}, {}), Database::UserSave::Added);
        api = std::make_unique<Instance>(*db);
    }
    ApiResponse call(const char* method, const QString& path, const QByteArray& body = "{}",
                     const QString& user = {}, const QString& secret = {}) {
        return (*api)(method, path, body, user, secret);
    }
    static QJsonObject json(const ApiResponse& r) { return jsonOf(r.body); }
    QStringList appIds(const ApiResponse& r) {
        QStringList ids;
        for (const QJsonValue& app : json(r).value("response").toArray())
            ids << app.toObject().value("appid").toString();
        return ids;
    }

    // Everything the service holds, to show a refused request changed nothing.
    QString snapshot() {
        QString out;
        for (const QString user : {"ann", "bob"}) {
            for (const StoredApp& a : db->appsOf(user).value_or(QList<StoredApp>()))
                out += a.appid + a.appname + ';';
            if (auto u = db->user(user))
                out += u->email + ';';
        }
        return out + QString::number(db->crashCount().value_or(-1));
    }

    // The install pages too; Ann and Bob register again, as today's applications do, and from then
    // on need their secrets.
    void servePages() {
        api = std::make_unique<Instance>(*db, ApiHandlers::Settings{"https://v.test/", 1.5}, true);
        for (const QString user : {"ann", "bob"})
            ASSERT_FALSE(
                (secrets[user] =
                     json(call("POST", "/addnewuser", userJson(user), user)).value("userSecret").toString())
                    .isEmpty());
    }
    // The createapp answer's "response".
    QJsonObject publish(const QString& owner, const QString& appid, const QVariantMap& fields) {
        const ApiResponse r =
            call("POST", "/createapp", appJson(owner, appid, fields), owner, secrets[owner]);
        EXPECT_EQ(r.status, 201) << r.body.constData();
        return json(r).value("response").toObject();
    }
    QString page(const QString& path) { return QString::fromUtf8(call("GET", path).body); }

    std::unique_ptr<Instance> api;
    QHash<QString, QString> secrets;
};

// The provisioning profile keys are stored where sent and left out of the list where not.
TEST_P(HandlersTest, AppsRoundTripWithReadKeysAndPublicLink) {
    const ApiResponse created = call("POST", "/createapp", appBody("ann", "Xy_9-abc__android"), "ann");
    EXPECT_EQ(created.status, 201);
    EXPECT_EQ(json(created), jsonOf(R"({"isSuccess":true,"response":{"url":"https://v.test/Xy_9-abc"}})"));
    const QVariantMap profile{
        {"profilekind", "ad-hoc"}, {"profileexpiry", "2026-05-03"}, {"provisioneddevices", "12"}};
    ASSERT_EQ(call("POST", "/createapp", appJson("ann", "with", profile), "ann").status, 201);

    const QJsonObject listed = json(call("GET", "/app/ann", "{}", "ann"));
    EXPECT_EQ(listed.value("isSuccess"), QJsonValue(true));
    const QJsonArray apps = listed.value("response").toArray();
    ASSERT_EQ(apps.size(), 2);
    // Everything comes back as sent, with minos and qrLink under their read keys.
    QJsonObject sent = jsonOf(appBody("ann", "Xy_9-abc__android"));
    sent.insert("minOS", sent.take("minos"));
    sent.insert("QRLink", sent.take("qrLink"));
    EXPECT_EQ(apps.at(0).toObject(), sent);
    for (auto it = profile.cbegin(); it != profile.cend(); ++it)
        EXPECT_EQ(apps.at(1).toObject().value(it.key()), QJsonValue(it.value().toString()))
            << it.key().toStdString();

    EXPECT_EQ(call("POST", "/createapp", appBody("ann", "Xy_9-abc__android"), "ann").status, 409);
    EXPECT_EQ(json(call("GET", "/checkversion")).value("response").toObject().value("version"),
              QJsonValue(1.5));
}

// Who may do what, and input the handlers cannot take: each is answered 4xx with a message, and
// nothing changes.
TEST_P(HandlersTest, RefusedRequestsAnswer4xxAndChangeNothing) {
    ASSERT_EQ(call("POST", "/createapp", appBody("ann", "annsapp"), "ann").status, 201);
    const QString before = snapshot();
    const QByteArray user = R"({"email":"a@x","username":"Ann","photoURL":"","userid":"ann"})";
    const struct {
        const char* method;
        QString path;
        QByteArray body;
        QString authorization; // null: header absent
        int status;
    } cases[] = {
        {"GET", "/app/ann", "{}", QString(), 401},
        {"GET", "/app/ann", "{}", "", 401},
        {"GET", "/app/ann", "{}", "bob", 403},
        {"GET", "/app/", "{}", "", 401},
        {"GET", "/app/ann", "{}", "Bearer ann", 401},
        {"GET", "/userdata/annsapp", "{}", QString(), 401},
        {"GET", "/userdata/annsapp", "{}", "bob", 403},
        {"GET", "/userdata/nosuchapp", "{}", "ann", 404},
        {"POST", "/createapp", appBody("bob", "bobsapp"), QString(), 401},
        {"POST", "/createapp", appBody("ann", "bobsapp"), "bob", 403},
        // An id that never registered gets no records (and so no public pages) on its word alone.
        {"POST", "/createapp", appBody("carl", "carlsapp"), "carl", 401},
        {"POST", "/addnewuser", R"({"email":)", "ann", 400},
        {"POST", "/addnewuser", "[1,2]", "ann", 400},
        {"POST", "/reportcrash", "", "ann", 400},
        {"POST", "/addnewuser", QByteArray(user).replace(R"("email":"a@x",)", ""), "ann", 400},
        {"POST", "/addnewuser", QByteArray(user).replace(R"("Ann")", "7"), "ann", 400},
        {"POST", "/reportcrash", R"({"name":null,"reason":"","exception":"","callStackSymbols":""})", "ann",
         400},
        {"POST", "/addnewuser", QByteArray(user).replace(R"("ann")", R"("../ann")"), "ann", 400},
        {"POST", "/addnewuser", QByteArray(user).replace(R"("ann")", R"("")"), "ann", 400},
        {"POST", "/createapp", appBody("ann", "a b"), "ann", 400},
        {"POST", "/createapp", appBody("ann", "a'--"), "ann", 400},
        {"POST", "/createapp", appBody("ann", QString(65, 'a')), "ann", 400},
        {"GET", "/userdata/a%20b", "{}", "ann", 400},
        {"POST", "/createapp", appJson("ann", "p1", {{"provisioneddevices", 12}}).replace(R"("12")", "12"),
         "ann", 400},
        {"POST", "/createapp", appJson("ann", "p2", {{"profilekind", QString(33, 'x')}}), "ann", 400},
        // Install links that run script or leave the web.
        {"POST", "/createapp", appJson("ann", "u1", {{"appurl", "javascript:alert(1)"}}), "ann", 400},
        {"POST", "/createapp", appJson("ann", "u2", {{"appurl", "JavaScript:alert(1)"}}), "ann", 400},
        {"POST", "/createapp", appJson("ann", "u3", {{"appurl", "data:text/html,<script>"}}), "ann", 400},
        {"POST", "/createapp", appJson("ann", "u4", {{"appurl", "file:///etc/passwd"}}), "ann", 400},
        {"POST", "/createapp", appJson("ann", "u5", {{"appurl", ""}}), "ann", 400},
        {"GET", "/admin", "{}", "ann", 404},
        {"GET", "/app/ann/extra", "{}", "ann", 404},
        {"GET", "/createapp", "{}", "ann", 405},
        {"POST", "/checkversion", "{}", "ann", 405},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.path + ' ' + c.authorization + ' ' + c.body.left(60)).toStdString());
        const ApiResponse r = call(c.method, c.path, c.body, c.authorization);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(json(r).value("isSuccess"), QJsonValue(false));
        EXPECT_TRUE(json(r).value("response").isString());
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(call("GET", "/app/ann", "{}", "ann").status, 200);
    EXPECT_EQ(call("GET", "/userdata/annsapp", "{}", "ann").status, 200);
}

// Two instances of the service on one database, each on connections of its own: what one
// remembers (app lists, known secrets) never hides what the other wrote, and the operator's reset
// of a lost secret reaches both once the time each trusts a remembered secret has passed (their
// clocks are moved on here).
TEST_P(HandlersTest, InstancesOnOneDatabaseFollowEachOthersWrites) {
    const std::chrono::milliseconds life = std::chrono::seconds(5);
    std::chrono::milliseconds elapsed[2] = {};
    std::unique_ptr<Database> databases[2];
    std::unique_ptr<Instance> instances[2];
    for (int i = 0; i < 2; ++i) {
        QString error;
        ASSERT_TRUE(databases[i] = Database::open(url, &error)) << error.toStdString();
        ApiHandlers::Settings settings{"https://v.test/", 1.5};
        settings.secretLife = life;
        settings.clock = [&elapsed, i] { return std::chrono::steady_clock::time_point() + elapsed[i]; };
        instances[i] = std::make_unique<Instance>(*databases[i], settings);
    }
    Instance& first = *instances[0];
    Instance& second = *instances[1];
    const auto listed = [](Instance& instance, const QString& secret = {}) {
        return instance("GET", "/app/ann", "{}", "ann", secret);
    };
    ASSERT_EQ(second("POST", "/createapp", appBody("ann", "one"), "ann").status, 201);
    EXPECT_EQ(appIds(listed(first)), QStringList{"one"});
    ASSERT_EQ(second("POST", "/createapp", appBody("ann", "two"), "ann").status, 201);
    EXPECT_EQ(appIds(listed(first)), (QStringList{"one", "two"}));

    // Ann registers through the second instance: the first, which took her on trust a moment
    // ago, now asks for the secret as well.
    const QString secret =
        json(second("POST", "/addnewuser", userJson("ann"))).value("userSecret").toString();
    ASSERT_FALSE(secret.isEmpty());
    EXPECT_EQ(listed(first).status, 401);
    EXPECT_EQ(listed(first, "wrong").status, 401);
    ASSERT_EQ(second("POST", "/createapp", appBody("ann", "three"), "ann", secret).status, 201);
    EXPECT_EQ(appIds(listed(first, secret)), (QStringList{"one", "two", "three"}));
    // Her profile is hers: a wrong secret cannot overwrite it, nor can Bob's own; a second
    // registration with hers is taken without issuing another.
    const QString bobs =
        json(second("POST", "/addnewuser", userJson("bob"), "bob")).value("userSecret").toString();
    ASSERT_FALSE(bobs.isEmpty());
    for (const QString& wrong : {QString("guess"), bobs})
        EXPECT_EQ(second("POST", "/addnewuser", userJson("ann", "evil@x"), "ann", wrong).status, 401);
    EXPECT_EQ(listed(first, bobs).status, 401);
    const ApiResponse again = second("POST", "/addnewuser", userJson("ann"), "ann", secret);
    EXPECT_EQ(again.status, 200);
    EXPECT_FALSE(json(again).contains("userSecret"));
    EXPECT_EQ(db->user("ann")->email, "e");

    ServerOptions options{.database = url, .resetSecretOf = "nobody"};
    QString message;
    EXPECT_EQ(runResetSecret(options, &message), 1) << message.toStdString();
    options.resetSecretOf = "ann";
    ASSERT_EQ(runResetSecret(options, &message), 0) << message.toStdString();
    elapsed[0] += life;
    EXPECT_EQ(listed(first, secret).status, 401);
    const ApiResponse renewed = first("POST", "/addnewuser", userJson("ann"), "ann", secret);
    EXPECT_EQ(renewed.status, 200);
    const QString newSecret = json(renewed).value("userSecret").toString();
    ASSERT_FALSE(newSecret.isEmpty());
    EXPECT_EQ(listed(second, newSecret).status, 200);
    EXPECT_EQ(listed(second, secret).status, 401);
    EXPECT_EQ(listed(first, newSecret).status, 200);
}

// Records are bounded per user and per client address, whichever runs out first.
TEST_P(HandlersTest, CreateAppIsBoundedPerUserAndPerAddress) {
    ApiHandlers::Settings settings{"https://v.test/", 1.5};
    settings.appsPerMinute = 2;
    Instance limited(*db, settings);
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
        ApiRequest r =
            request("POST", "/createapp", appBody(c.user, QStringLiteral("app%1").arg(n++)), c.user);
        r.peer = c.peer;
        const ApiResponse answer = limited.router.dispatch(r);
        EXPECT_EQ(answer.status, c.status);
        int retryAfter = 0;
        for (const auto& [name, value] : answer.headers)
            if (name == "Retry-After")
                retryAfter = value.toInt();
        EXPECT_EQ(retryAfter > 0, c.status == 429) << retryAfter;
    }
    EXPECT_EQ(db->appCount("ann"), 2);
    EXPECT_EQ(db->appCount("bob"), 1);
}

TEST_P(HandlersTest, BuildsOfOneBundleIdShareTheirPage) {
    servePages();
    const QString bundle = "com.example.demo";
    const struct {
        const char* owner;
        const char* appid;
        std::optional<QString> bundleid;
        const char* group; // builds of one group share a stable link; "" none
    } builds[] = {
        {"ann", "annDemo011", bundle, "ann-ios"}, {"ann", "annDemo012", bundle, "ann-ios"},
        {"bob", "bobDemo010", bundle, "bob-ios"}, {"ann", "annDemo010__android", bundle, "ann-android"},
        {"ann", "annDemo013", bundle, "ann-ios"}, {"ann", "annOther01", std::nullopt, ""},
        {"ann", "annOther02", QString(), ""},
    };
    QHash<QString, QString> linkOfGroup;
    int version = 0;
    for (const auto& b : builds) {
        SCOPED_TRACE(b.appid);
        QVariantMap fields{{"appversion", QStringLiteral("1.%1").arg(++version)},
                           {"appdescription", QStringLiteral("Notes of %1\nmore").arg(version)}};
        if (b.bundleid)
            fields.insert("bundleid", *b.bundleid);
        const QJsonValue latest = publish(b.owner, b.appid, fields).value("latestUrl");
        if (!*b.group) {
            EXPECT_TRUE(latest.isUndefined());
            continue;
        }
        EXPECT_TRUE(latest.toString().contains(QRegularExpression("^https://v.test/l/[A-Za-z0-9]{10}$")))
            << latest.toString().toStdString();
        EXPECT_EQ(linkOfGroup.value(b.group, latest.toString()), latest.toString());
        linkOfGroup.insert(b.group, latest.toString());
    }
    EXPECT_EQ(QSet<QString>(linkOfGroup.cbegin(), linkOfGroup.cend()).size(), 3);

    // The stable page: the newest build's page with its install button, the earlier ones below, newest first.
    const QString stable = page(linkOfGroup.value("ann-ios").mid(14));
    EXPECT_TRUE(stable.contains("href=\"https://v.test/annDemo013/install\">Install</a>"));
    EXPECT_TRUE(stable.contains("<h2>Release notes</h2><p>Notes of 5\nmore</p>"));
    const qsizetype builds12 = stable.indexOf("<a href=\"https://v.test/annDemo012\">Version 1.2</a>");
    const qsizetype builds11 = stable.indexOf("<a href=\"https://v.test/annDemo011\">Version 1.1</a>");
    EXPECT_TRUE(builds12 > 0 && builds11 > builds12) << stable.toStdString();
    EXPECT_TRUE(stable.contains("<span class=\"note\">Notes of 2</span>"));
    EXPECT_FALSE(stable.contains("bobDemo010") || stable.contains("annDemo010"));
    // Only a build that is no longer the newest says so.
    EXPECT_TRUE(page("/annDemo011")
                    .contains("<a href=\"" + linkOfGroup.value("ann-ios") +
                              "\">A newer version (1.5) is available.</a>"));
    EXPECT_FALSE(page("/annDemo013").contains("id=\"newer\""));
    EXPECT_FALSE(page("/annOther01").contains("id=\"newer\""));
    for (const char* missing : {"/l/NoSuchKey0", "/l/bad-key!", "/l/annDemo011"})
        EXPECT_EQ(call("GET", missing).status, 404) << missing;

    // The list carries the bundle id where there is one.
    const QJsonArray apps =
        json(call("GET", "/app/ann", {}, "ann", secrets["ann"])).value("response").toArray();
    EXPECT_EQ(apps.at(0).toObject().value("bundleid").toString(), bundle);
    EXPECT_FALSE(apps.at(4).toObject().contains("latestUrl"));

    // At most 50 earlier builds.
    for (int i = 0; i < 52; ++i)
        publish("bob", QStringLiteral("bobMany%1").arg(i, 3, 10, QLatin1Char('0')),
                {{"bundleid", "com.example.many"}});
    const QString many = page("/l/" + db->app("bobMany000")->latestKey);
    EXPECT_EQ(many.count("<li>"), 50);
    EXPECT_TRUE(many.contains("bobMany050\">") && !many.contains("bobMany000\">"));
}

TEST_P(HandlersTest, OnlyTheOwnerEditsTheNotes) {
    servePages();
    publish("ann", "annNotes01", {});
    const QString ann = secrets["ann"];
    // A list written before the edit must not be served after it.
    call("GET", "/app/ann", {}, "ann", ann);
    const auto body = [](const char* appid, const QString& notes) {
        return QJsonDocument(QJsonObject{{"appid", appid}, {"appdescription", notes}}).toJson();
    };
    const QString notes = QString::fromUtf8("Try the new login 🚀");
    const struct {
        const char* what;
        QString user;
        QString secret;
        QByteArray body;
        int status;
    } cases[] = {
        {"no secret", "ann", QString(), body("annNotes01", notes), 401},
        {"wrong secret", "ann", "guess", body("annNotes01", notes), 401},
        {"another owner", "bob", secrets["bob"], body("annNotes01", notes), 403},
        {"unknown app", "ann", ann, body("nosuchapp1", notes), 404},
        {"too long", "ann", ann, body("annNotes01", QString(4001, 'x')), 400},
        {"the owner", "ann", ann, body("annNotes01", notes), 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ApiResponse r = call("POST", "/updateapp", c.body, c.user, c.secret);
        EXPECT_EQ(r.status, c.status) << r.body.constData();
        EXPECT_EQ(db->app("annNotes01")->appdescription, c.status == 200 ? notes : "v-appdescription");
    }
    EXPECT_TRUE(page("/annNotes01").contains("<p>" + notes + "</p>"));
    EXPECT_TRUE(QString::fromUtf8(call("GET", "/app/ann", {}, "ann", ann).body).contains(notes));
    // A user from before secrets edits nothing on its Authorization value alone.
    ASSERT_EQ(db->saveUser({"old", "", "", ""}, "", ""), Database::UserSave::Added);
    ASSERT_EQ(db->insertApp({"oldApp0001", "old"}), Database::Insert::Added);
    EXPECT_EQ(call("POST", "/updateapp", body("oldApp0001", notes), "old", "any").status, 401);
}

ON_BOTH_ENGINES(HandlersTest);

} // namespace
