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

#include <QRegularExpression>

namespace {

class StableLinks : public EngineDatabaseTest {
protected:
    void SetUp() override {
        EngineDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        api = std::make_unique<ApiHandlers>(*db, ApiHandlers::Settings{"https://v.test/", 1.0});
        pages = std::make_unique<PageHandlers>(*db, "https://v.test/", nullptr);
        api->registerRoutes(router);
        pages->registerRoutes(router);
        for (const QString user : {"ann", "bob"})
            ASSERT_FALSE(
                (secrets[user] =
                     jsonOf(call("POST", "/addnewuser", userJson(user)).body).value("userSecret").toString())
                    .isEmpty());
    }

    ApiResponse call(const char* method, const QString& path, const QByteArray& body = {},
                     const QString& user = {}, const QString& secret = {}) {
        ApiRequest r = request(method, path, body, user.isEmpty() ? QString() : user, secret);
        r.headers.insert("user-agent", QString::fromStdString(kIPhone));
        return router.dispatch(r);
    }
    // The createapp answer's "response".
    QJsonObject publish(const QString& owner, const QString& appid, const QVariantMap& fields) {
        const ApiResponse r =
            call("POST", "/createapp", appJson(owner, appid, fields), owner, secrets[owner]);
        EXPECT_EQ(r.status, 201) << r.body.constData();
        return jsonOf(r.body).value("response").toObject();
    }
    QString page(const QString& path) { return QString::fromUtf8(call("GET", path).body); }

    std::unique_ptr<ApiHandlers> api;
    std::unique_ptr<PageHandlers> pages;
    Router router;
    QHash<QString, QString> secrets;
};

TEST_P(StableLinks, BuildsOfOneBundleIdShareTheirPage) {
    const QString bundle = "com.example.demo";
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

    // The list carries the stable link and the bundle id where there are some.
    const QJsonArray apps =
        jsonOf(call("GET", "/app/ann", {}, "ann", secrets["ann"]).body).value("response").toArray();
    ASSERT_EQ(apps.size(), 6);
    EXPECT_EQ(apps.at(0).toObject().value("latestUrl").toString(), linkOfGroup.value("ann-ios"));
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

TEST_P(StableLinks, OnlyTheOwnerEditsTheNotes) {
    publish("ann", "annNotes01", {});
    const QString ann = secrets["ann"];
    // A list written before the edit must not be served after it.
    call("GET", "/app/ann", {}, "ann", ann);
    const auto body = [](const char* appid, const QString& notes) {
        return QJsonDocument(QJsonObject{{"appid", appid}, {"appdescription", notes}}).toJson();
    };
    struct Case {
        const char* what;
        QString user;
        QString secret;
        QByteArray body;
        int status;
    };
    const QString notes = QString::fromUtf8("Try the new login 🚀");
    const Case cases[] = {
        {"no secret", "ann", QString(), body("annNotes01", notes), 401},
        {"wrong secret", "ann", "guess", body("annNotes01", notes), 401},
        {"another owner", "bob", secrets["bob"], body("annNotes01", notes), 403},
        {"unknown app", "ann", ann, body("nosuchapp1", notes), 404},
        {"too long", "ann", ann, body("annNotes01", QString(4001, 'x')), 400},
        {"the owner", "ann", ann, body("annNotes01", notes), 200},
    };
    for (const Case& c : cases) {
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

ON_BOTH_ENGINES(StableLinks);

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

} // namespace
