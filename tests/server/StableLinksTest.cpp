// The stable link of an app's builds, release notes on the pages and their editing, as handlers
// of a request on both engines; the notes' HTML as a function of the text.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Router.h"
#include "server/pages/InstallPage.h"
#include "server/pages/PageHandlers.h"
#include "server/pages/ReleaseNotes.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString kIPhone = QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X)");

class StableLinks : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        QString error;
        const QString url = testDatabaseUrl(GetParam(), &error);
        if (url.isEmpty())
            GTEST_SKIP() << error.toStdString();
        db = Database::open(url, &error);
        ASSERT_TRUE(db) << error.toStdString();
        api =
            std::make_unique<ApiHandlers>(*db, ApiHandlers::Settings{QStringLiteral("https://v.test/"), 1.0});
        pages = std::make_unique<PageHandlers>(*db, QStringLiteral("https://v.test/"), nullptr);
        api->registerRoutes(router);
        pages->registerRoutes(router);
        for (const QString& user : {QStringLiteral("ann"), QStringLiteral("bob")}) {
            const ApiResponse r =
                call("POST", QStringLiteral("/addnewuser"),
                     QStringLiteral(R"({"email":"","username":"","photoURL":"","userid":"%1"})")
                         .arg(user)
                         .toUtf8());
            secrets[user] =
                QJsonDocument::fromJson(r.body).object().value(QStringLiteral("userSecret")).toString();
            ASSERT_FALSE(secrets[user].isEmpty());
        }
    }

    ApiResponse call(const char* method, const QString& path, const QByteArray& body = {},
                     const QString& user = {}, const QString& secret = {}) {
        ApiRequest r;
        r.method = QString::fromLatin1(method);
        r.path = path;
        r.body = body;
        r.headers.insert(QStringLiteral("user-agent"), kIPhone);
        if (!user.isEmpty())
            r.headers.insert(QStringLiteral("authorization"), user);
        if (!secret.isEmpty())
            r.headers.insert(QStringLiteral("x-vantry-secret"), secret);
        return router.dispatch(r);
    }
    // The createapp answer's "response".
    QJsonObject publish(const QString& owner, const QString& appid, const QVariantMap& fields) {
        const ApiResponse r =
            call("POST", QStringLiteral("/createapp"), appJson(owner, appid, fields), owner, secrets[owner]);
        EXPECT_EQ(r.status, 201) << r.body.constData();
        return QJsonDocument::fromJson(r.body).object().value(QStringLiteral("response")).toObject();
    }
    QString page(const QString& path) { return QString::fromUtf8(call("GET", path).body); }

    std::unique_ptr<Database> db;
    std::unique_ptr<ApiHandlers> api;
    std::unique_ptr<PageHandlers> pages;
    Router router;
    QHash<QString, QString> secrets;
};

TEST_P(StableLinks, BuildsOfOneBundleIdShareTheirPage) {
    const QString bundle = QStringLiteral("com.example.demo");
    struct Build {
        const char* owner;
        const char* appid;
        std::optional<QString> bundleid;
        const char* group; // builds of one group share a stable link; "" none
    };
    const Build builds[] = {
        {"ann", "annDemo011", bundle, "ann-ios"}, {"ann", "annDemo012", bundle, "ann-ios"},
        {"bob", "bobDemo010", bundle, "bob-ios"}, {"ann", "annDemo010__android", bundle, "ann-android"},
        {"ann", "annDemo013", bundle, "ann-ios"}, {"ann", "annOther01", std::nullopt, ""},
        {"ann", "annOther02", QString(), ""},
    };
    QHash<QString, QString> linkOfGroup;
    int version = 0;
    for (const Build& b : builds) {
        SCOPED_TRACE(b.appid);
        QVariantMap fields{
            {QStringLiteral("appversion"), QStringLiteral("1.%1").arg(++version)},
            {QStringLiteral("appdescription"), QStringLiteral("Notes of %1\nmore").arg(version)}};
        if (b.bundleid)
            fields.insert(QStringLiteral("bundleid"), *b.bundleid);
        const QJsonValue latest = publish(QLatin1String(b.owner), QLatin1String(b.appid), fields)
                                      .value(QStringLiteral("latestUrl"));
        if (!*b.group) {
            EXPECT_TRUE(latest.isUndefined());
            continue;
        }
        EXPECT_TRUE(latest.toString().contains(
            QRegularExpression(QStringLiteral("^https://v.test/l/[A-Za-z0-9]{10}$"))))
            << latest.toString().toStdString();
        EXPECT_EQ(linkOfGroup.value(QLatin1String(b.group), latest.toString()), latest.toString());
        linkOfGroup.insert(QLatin1String(b.group), latest.toString());
    }
    EXPECT_EQ(QSet<QString>(linkOfGroup.cbegin(), linkOfGroup.cend()).size(), 3);

    // The stable page: the newest build's page with its install button, the earlier ones below, newest first.
    const QString stable = page(linkOfGroup.value(QStringLiteral("ann-ios")).mid(14));
    EXPECT_TRUE(stable.contains(QLatin1String("href=\"https://v.test/annDemo013/install\">Install</a>")));
    EXPECT_TRUE(stable.contains(QLatin1String("<h2>Release notes</h2><p>Notes of 5\nmore</p>")));
    const qsizetype builds12 =
        stable.indexOf(QLatin1String("<a href=\"https://v.test/annDemo012\">Version 1.2</a>"));
    const qsizetype builds11 =
        stable.indexOf(QLatin1String("<a href=\"https://v.test/annDemo011\">Version 1.1</a>"));
    EXPECT_TRUE(builds12 > 0 && builds11 > builds12) << stable.toStdString();
    EXPECT_TRUE(stable.contains(QLatin1String("<span class=\"note\">Notes of 2</span>")));
    EXPECT_FALSE(stable.contains(QLatin1String("bobDemo010")) ||
                 stable.contains(QLatin1String("annDemo010")));
    // Only a build that is no longer the newest says so.
    EXPECT_TRUE(page(QStringLiteral("/annDemo011"))
                    .contains(QStringLiteral("<a href=\"%1\">A newer version (1.5) is available.</a>")
                                  .arg(linkOfGroup.value(QStringLiteral("ann-ios")))));
    EXPECT_FALSE(page(QStringLiteral("/annDemo013")).contains(QLatin1String("id=\"newer\"")));
    EXPECT_FALSE(page(QStringLiteral("/annOther01")).contains(QLatin1String("id=\"newer\"")));
    for (const char* missing : {"/l/NoSuchKey0", "/l/bad-key!", "/l/annDemo011"})
        EXPECT_EQ(call("GET", QLatin1String(missing)).status, 404) << missing;

    // The list carries the stable link and the bundle id where there are some.
    const QJsonArray apps =
        QJsonDocument::fromJson(
            call("GET", QStringLiteral("/app/ann"), {}, QStringLiteral("ann"), secrets[QStringLiteral("ann")])
                .body)
            .object()
            .value(QStringLiteral("response"))
            .toArray();
    ASSERT_EQ(apps.size(), 6);
    EXPECT_EQ(apps.at(0).toObject().value(QStringLiteral("latestUrl")).toString(),
              linkOfGroup.value(QStringLiteral("ann-ios")));
    EXPECT_EQ(apps.at(0).toObject().value(QStringLiteral("bundleid")).toString(), bundle);
    EXPECT_FALSE(apps.at(4).toObject().contains(QStringLiteral("latestUrl")));

    // At most 50 earlier builds.
    for (int i = 0; i < 52; ++i)
        publish(QStringLiteral("bob"), QStringLiteral("bobMany%1").arg(i, 3, 10, QLatin1Char('0')),
                {{QStringLiteral("bundleid"), QStringLiteral("com.example.many")}});
    const QString many =
        page(db->app(QStringLiteral("bobMany000"))->latestKey.prepend(QStringLiteral("/l/")));
    EXPECT_EQ(many.count(QLatin1String("<li>")), 50);
    EXPECT_TRUE(many.contains(QLatin1String("bobMany050\">")) &&
                !many.contains(QLatin1String("bobMany000\">")));
}

TEST_P(StableLinks, OnlyTheOwnerEditsTheNotes) {
    publish(QStringLiteral("ann"), QStringLiteral("annNotes01"), {});
    const QString ann = secrets[QStringLiteral("ann")];
    // A list written before the edit must not be served after it.
    call("GET", QStringLiteral("/app/ann"), {}, QStringLiteral("ann"), ann);
    const auto body = [](const char* appid, const QString& notes) {
        return QJsonDocument(QJsonObject{{QStringLiteral("appid"), QLatin1String(appid)},
                                         {QStringLiteral("appdescription"), notes}})
            .toJson();
    };
    struct Case {
        const char* what;
        QString user;
        QString secret;
        QByteArray body;
        int status;
    };
    const QString notes = QStringLiteral("Try the new login 🚀");
    const Case cases[] = {
        {"no secret", QStringLiteral("ann"), QString(), body("annNotes01", notes), 401},
        {"wrong secret", QStringLiteral("ann"), QStringLiteral("guess"), body("annNotes01", notes), 401},
        {"another owner", QStringLiteral("bob"), secrets[QStringLiteral("bob")], body("annNotes01", notes),
         403},
        {"unknown app", QStringLiteral("ann"), ann, body("nosuchapp1", notes), 404},
        {"too long", QStringLiteral("ann"), ann, body("annNotes01", QString(4001, QLatin1Char('x'))), 400},
        {"the owner", QStringLiteral("ann"), ann, body("annNotes01", notes), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ApiResponse r = call("POST", QStringLiteral("/updateapp"), c.body, c.user, c.secret);
        EXPECT_EQ(r.status, c.status) << r.body.constData();
        EXPECT_EQ(db->app(QStringLiteral("annNotes01"))->appdescription,
                  c.status == 200 ? notes : QStringLiteral("v-appdescription"));
    }
    EXPECT_TRUE(page(QStringLiteral("/annNotes01")).contains(QStringLiteral("<p>%1</p>").arg(notes)));
    EXPECT_TRUE(
        QString::fromUtf8(call("GET", QStringLiteral("/app/ann"), {}, QStringLiteral("ann"), ann).body)
            .contains(notes));
    // A user from before secrets edits nothing on its Authorization value alone.
    ASSERT_EQ(db->saveUser({QStringLiteral("old"), QString(), QString(), QString()}, QString(), QString()),
              Database::UserSave::Added);
    ASSERT_EQ(db->insertApp({QStringLiteral("oldApp0001"), QStringLiteral("old")}), Database::Insert::Added);
    EXPECT_EQ(call("POST", QStringLiteral("/updateapp"), body("oldApp0001", notes), QStringLiteral("old"),
                   QStringLiteral("any"))
                  .status,
              401);
}

INSTANTIATE_TEST_SUITE_P(Engines, StableLinks, ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const auto& info) { return engineName(info.param); });

// Every "<" of the notes' HTML opens one of our links, every link is http or https, and the text
// a reader sees is the text written (line breaks kept, control characters dropped).
TEST(ReleaseNotes, OnlyWebLinksBecomeMarkup) {
    const QString emoji = QString::fromUtf8("🚀").repeated(4000);
    const struct {
        QString notes;
        QStringList links;
    } cases[] = {
        {QStringLiteral("<script>alert(1)</script>"), {}},
        {QStringLiteral("\" onmouseover=\"x' <b>&amp;"), {}},
        {QStringLiteral("javascript:alert(1) and JavaScript://%0aalert(1)"), {}},
        {QStringLiteral("ftp://x.test/a data:text/html,<b> https:// and http:///nohost"), {}},
        {QStringLiteral("see https://x.test/a?b=1&c=2. And (http://y.test/wiki/A_(b)), HTTPS://Z.TEST!"),
         {QStringLiteral("https://x.test/a?b=1&amp;c=2"), QStringLiteral("http://y.test/wiki/A_(b)"),
          QStringLiteral("HTTPS://Z.TEST")}},
        {QStringLiteral("https://x.test/\"><script>alert(1)</script> javascript:x//https://w.test/'onload"),
         {QStringLiteral("https://x.test/"), QStringLiteral("https://w.test/")}},
        {QStringLiteral("line 1\r\nline 2\rline 3\x01\x7f\tend"), {}},
        {emoji, {}},
    };
    static const QRegularExpression ours(
        QStringLiteral("<a href=\"([^\"<>]*)\" rel=\"noopener noreferrer\">|</a>"));
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
        EXPECT_FALSE(rest.contains(QLatin1Char('<')) || rest.contains(QLatin1Char('>')) ||
                     rest.contains(QLatin1Char('"')))
            << html.toStdString();
        QString expected = c.notes;
        expected.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        expected.remove(QLatin1Char('\x01')).remove(QLatin1Char('\x7f'));
        for (const char* entity : {"&lt;<", "&gt;>", "&quot;\"", "&#39;'", "&amp;&"})
            rest.replace(QLatin1String(entity).chopped(1), QLatin1String(entity).right(1));
        EXPECT_EQ(rest, expected);
    }
    // On the page: the notes' block holds them whole, and the page's own markup is what it was.
    Zapp app;
    app.appid = QStringLiteral("page000001");
    InstallPageContent content;
    content.app = app;
    const QString plain = QString::fromUtf8(renderInstallPage(content));
    content.app.appdescription = QStringLiteral("</p></div><script>x</script>\n") + emoji;
    const QString noted = QString::fromUtf8(renderInstallPage(content));
    EXPECT_EQ(noted.count(QLatin1String("<script")), plain.count(QLatin1String("<script")));
    EXPECT_EQ(noted.count(QLatin1String("</div>")), plain.count(QLatin1String("</div>")) + 1);
    EXPECT_TRUE(noted.contains(QLatin1String("\n") + emoji + QLatin1String("</p></div>")));
}

} // namespace
