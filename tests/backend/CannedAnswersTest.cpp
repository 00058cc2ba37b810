// The connection and the endpoint operations against the answers a misbehaving backend could give.
#include "CannedServer.h"
#include "backend/BackendStartup.h"
#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/Config.h"
#include "core/CrashHandler.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <thread>

using testsupport::waitUntil;

namespace {

struct Outcome {
    int calls = 0;
    QJsonValue result;
    bool isError = false;
    QString message;
    bool onMainThread = false;
};

// Outcomes are shared with the completion, so a late second call cannot touch a dead one.
HttpConnection::Completion recordInto(const std::shared_ptr<Outcome>& o) {
    return [o](const QJsonValue& result, bool isError, const QString& message) {
        o->calls++;
        o->result = result;
        o->isError = isError;
        o->message = message;
        o->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    };
}

// Waits for the request to finish, then for anything a second completion could bring.
void settle(const Outcome& o) {
    waitUntil([&] { return o.calls > 0 && HttpConnection::pendingRequests() == 0; });
    QCoreApplication::processEvents();
}

const HttpHeaders kJson = {{QStringLiteral("Content-Type"), QStringLiteral("application/json")}};

class HttpConnectionTest : public ::testing::Test {
protected:
    void TearDown() override {
        HttpConnection::setReachabilityProbe({});
        Config::instance().reload();
    }
    // Sends one request and waits until it is fully handled.
    static Outcome run(const QUrl& target, const char* method,
                       const std::optional<QJsonObject>& body = std::nullopt) {
        auto o = std::make_shared<Outcome>();
        HttpConnection::request(target, QString::fromLatin1(method), ResponseKind::dictionary, kJson, body,
                                recordInto(o));
        EXPECT_EQ(o->calls, 0) << "completed inside request()";
        settle(*o);
        return *o;
    }
    CannedServer server;
    QUrl url(const QString& path = QStringLiteral("x")) const { return QUrl(server.baseUrl() + path); }
};

// An object is decoded also under an error status (the product asks only for objects); an
// answer that is no JSON ends in an error with an empty object, exactly once.
TEST_F(HttpConnectionTest, ObjectsDecodeEvenUnderAnErrorStatusAndOtherAnswersFailOnce) {
    server.setAnswer(403, R"({"response":"no"})");
    Outcome o = run(url(), "POST", QJsonObject{{QStringLiteral("a"), 1}});
    EXPECT_EQ(server.requests().constLast().body, QByteArray(R"({"a":1})"));
    EXPECT_EQ(o.calls, 1);
    EXPECT_FALSE(o.isError);
    EXPECT_EQ(o.result, QJsonValue(QJsonObject{{QStringLiteral("response"), QStringLiteral("no")}}));
    for (const QByteArray& answer :
         {QByteArray("<html>oops</html>"), QByteArray(R"({"isSuccess":tr)"), QByteArray()}) {
        SCOPED_TRACE(answer.constData());
        server.setAnswer(200, answer);
        o = run(url(), "GET");
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError && !o.message.isEmpty());
        EXPECT_EQ(o.result, QJsonValue(QJsonObject()));
    }
}

// One sentence each, as a job shows it with "Error". Where reachability is unknown the request goes
// (refused, silent); offline, nothing is sent.
TEST_F(HttpConnectionTest, RefusedSilentAndOfflineEndInErrorOnce) {
    Config::instance().set(ConfigKey::BackendRequestTimeoutSeconds, QStringLiteral("1"));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()));
    server.setAnswer(200, "{}", false);
    const struct {
        QUrl target;
        std::optional<bool> reachable;
        QString message;
    } cases[] = {{refused, std::nullopt,
                  QStringLiteral("The Vantry server could not be reached (Connection refused).")},
                 {url(), std::nullopt, QStringLiteral("The Vantry server did not answer within 1 seconds.")},
                 {url(), false, QStringLiteral("The network connection is offline.")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        HttpConnection::setReachabilityProbe([&c](const QUrl&) { return c.reachable; });
        const Outcome o = run(c.target, "GET");
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError);
        EXPECT_EQ(o.result, QJsonValue(QJsonObject()));
        EXPECT_EQ(o.message, c.message);
    }
    EXPECT_EQ(server.requests().size(), 1); // the silent server's
}

// Started on another thread, the completion runs on the main one; a destroyed context drops it.
TEST_F(HttpConnectionTest, CompletionOnTheMainThreadAndNeverAfterItsContext) {
    server.setAnswer(200, R"({"ok":true})");
    auto o = std::make_shared<Outcome>();
    std::thread worker([&] {
        HttpConnection::request(url(), QStringLiteral("POST"), ResponseKind::dictionary, kJson, std::nullopt,
                                recordInto(o));
    });
    worker.join();
    settle(*o);
    EXPECT_EQ(o->calls, 1);
    EXPECT_TRUE(o->onMainThread);

    auto dropped = std::make_shared<Outcome>();
    auto* context = new QObject;
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::dictionary, kJson, std::nullopt,
                            recordInto(dropped), context);
    delete context;
    waitUntil([] { return HttpConnection::pendingRequests() == 0; });
    EXPECT_EQ(server.requests().size(), 2);
    EXPECT_EQ(dropped->calls, 0);
}

class ZelkoAnswersTest : public ::testing::Test {
protected:
    void SetUp() override {
        currentUser() = ZUser{QStringLiteral("Ann"), QStringLiteral("ann@x"), QStringLiteral("u1"), {}};
    }
    void TearDown() override {
        currentUser() = ZUser{};
        QCoreApplication::setApplicationVersion(QString());
        CrashHandler::clearStoredReport();
    }
    // Runs one operation against the canned answer and waits until it is fully handled.
    void answer(const QByteArray& body, const std::function<void(const BackendApi&)>& operation) {
        server.setAnswer(200, body);
        operation(BackendApi(server.baseUrl()));
        ASSERT_TRUE(waitUntil([] { return HttpConnection::pendingRequests() == 0; }));
        QCoreApplication::processEvents();
    }
    QJsonObject lastBody() const {
        return QJsonDocument::fromJson(server.requests().constLast().body).object();
    }
    CannedServer server;
};

TEST_F(ZelkoAnswersTest, FetchAppsKeepsOrderAndDropsWholeListForOneNonText) {
    struct Case {
        const char* name;
        QByteArray body;
        std::optional<QStringList> ids; // nullopt: no callback
    };
    const Case cases[] = {
        {"order kept", R"({"isSuccess":true,"response":[{"appid":"b"},{"appid":"a"}]})",
         QStringList{QStringLiteral("b"), QStringLiteral("a")}},
        {"empty list", R"({"isSuccess":true,"response":[]})", QStringList{}},
        {"numeric field", R"({"isSuccess":true,"response":[{"appid":"a"},{"appid":"b","appsize":12}]})",
         std::nullopt},
        {"isSuccess false", R"({"isSuccess":false,"response":[{"appid":"a"}]})", std::nullopt},
        {"isSuccess as text", R"({"isSuccess":"true","response":[{"appid":"a"}]})", std::nullopt},
        {"response not a list", R"({"isSuccess":true,"response":{"appid":"a"}})", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<QList<Zapp>> got;
        int failures = 0;
        answer(c.body, [&](const BackendApi& api) {
            api.fetchApps(
                QStringLiteral("u1"), [&](const QList<Zapp>& a) { got = a; }, nullptr,
                [&](const QString&) { ++failures; });
        });
        ASSERT_EQ(got.has_value(), c.ids.has_value());
        EXPECT_EQ(failures, got ? 0 : 1);
        if (!got)
            continue;
        QStringList ids;
        for (const Zapp& z : *got)
            ids << z.appid;
        EXPECT_EQ(ids, *c.ids); // the minOS/QRLink read mapping: RecordsTest
    }
}

// A GET with an empty JSON body, which the backend reads; without a user, the bare path and an
// empty Authorization header.
TEST_F(ZelkoAnswersTest, FetchAppsWithoutUserAsksForBarePath) {
    currentUser() = ZUser{};
    answer(R"({"isSuccess":false,"response":"Authorization required"})",
           [&](const BackendApi& api) { api.fetchApps(currentUser().id, [](const QList<Zapp>&) {}); });
    ASSERT_EQ(server.requests().size(), 1);
    const CannedServer::Request& r = server.requests().constFirst();
    EXPECT_EQ(r.method + QLatin1Char(' ') + r.path, QStringLiteral("GET /app/"));
    EXPECT_EQ(r.body, QByteArray("{}"));
    EXPECT_EQ(r.headers.value(QStringLiteral("content-type")), QStringLiteral("application/json"));
    EXPECT_EQ(r.headers.value(QStringLiteral("authorization"), QStringLiteral("absent")), QString());
    EXPECT_FALSE(r.headers.contains(QStringLiteral("x-vantry-secret")));
}

TEST_F(ZelkoAnswersTest, CreateAppSendsOwnerFromCurrentUserAndNeedsTextUrl) {
    Zapp app;
    app.userid = QStringLiteral("someone-else");
    app.appid = QStringLiteral("abcdefghij");
    app.appMinOS = QStringLiteral("14.0");
    app.qrLink = QStringLiteral("https://q");
    app.bundleID = QStringLiteral("com.example.demo");
    app.profileKind = QStringLiteral("ad-hoc"); // optional keys go out only when set
    std::optional<QString> link;
    QString latest;
    answer(R"({"isSuccess":true,"response":{"url":"https://v/abcdefghij","latestUrl":"https://v/l/K"}})",
           [&](const BackendApi& api) {
               api.createApp(app, [&](const QString& url, const QString& stable) {
                   link = url;
                   latest = stable;
               });
           });
    EXPECT_EQ(link, QStringLiteral("https://v/abcdefghij"));
    EXPECT_EQ(latest, QStringLiteral("https://v/l/K"));
    EXPECT_EQ(
        lastBody(),
        QJsonDocument::fromJson(
            R"({"userid":"u1","appname":"","appicon":"","appversion":"","appurl":"",)"
            R"("appid":"abcdefghij","appdate":"","appsize":"","minos":"14.0",)"
            R"("qrLink":"https://q","appdescription":"","bundleid":"com.example.demo","profilekind":"ad-hoc"})")
            .object());
    EXPECT_EQ(server.requests().constLast().headers.value(QStringLiteral("authorization")),
              QStringLiteral("u1"));

    // Every other answer ends in the failure callback, once, and never in a link.
    const std::pair<QByteArray, const char*> bad[] = {
        {R"({"isSuccess":true,"response":{"url":5}})", "The Vantry server's answer was not understood."},
        {R"({"isSuccess":true,"response":{"url":""}})", "The Vantry server's answer was not understood."},
        {R"({"isSuccess":false,"response":{"url":"https://v/x"}})", "The Vantry server refused the request."},
        {R"({"isSuccess":false,"response":"App limit reached"})",
         "The Vantry server refused the request: App limit reached"},
        {"not json", "The server's answer is not JSON."},
    };
    for (const auto& [body, reason] : bad) {
        link.reset();
        QStringList failures;
        answer(body, [&](const BackendApi& api) {
            api.createApp(
                app, [&](const QString& url, const QString&) { link = url; }, nullptr,
                [&](const QString& why) { failures.append(why); });
        });
        EXPECT_FALSE(link.has_value()) << body.constData();
        EXPECT_EQ(failures, QStringList{QString::fromUtf8(reason)}) << body.constData();
    }
}

// A refused registration and crash report are logged, and the report stays for the next start. The
// secret a registration issues goes with the user's later requests. At start, the version check
// tells of another version and the stored crash report goes, to be forgotten once confirmed.
TEST_F(ZelkoAnswersTest, RefusalsAreLoggedTheIssuedSecretGoesAlongAndStartupSendsTheStoredReport) {
    testsupport::LogCapture log;
    bool added = false;
    answer(R"({"isSuccess":false,"response":"database is down"})",
           [&](const BackendApi& api) { api.addNewUser(currentUser(), [&] { added = true; }); });
    EXPECT_FALSE(added);
    EXPECT_EQ(lastBody(),
              QJsonDocument::fromJson(R"({"email":"ann@x","username":"Ann","photoURL":"","userid":"u1"})")
                  .object());
    EXPECT_FALSE(server.requests().constLast().headers.contains(QStringLiteral("authorization")));

    Crash crash;
    crash.name = QStringLiteral("std::runtime_error");
    crash.callStackSymbols = {QStringLiteral("0 a"), QStringLiteral("1 \"b\"")};
    CrashHandler::storeReport(crash);
    answer(R"({"isSuccess":false,"response":"try later"})",
           [&](const BackendApi& api) { api.reportCrash(crash); });
    EXPECT_TRUE(CrashHandler::storedReport().has_value()) << "an unconfirmed report stays for the next start";
    EXPECT_EQ(lastBody().value(QStringLiteral("callStackSymbols")).toString(),
              QStringLiteral(R"(["0 a", "1 \"b\""])"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("database is down"), QStringLiteral("try later")}));

    answer(R"({"isSuccess":true,"response":"added","userSecret":"s-1"})",
           [&](const BackendApi& api) { api.addNewUser(currentUser(), {}); });
    answer(R"({"isSuccess":true,"response":[]})",
           [&](const BackendApi& api) { api.fetchApps(currentUser().id, {}); });
    EXPECT_EQ(server.requests().constLast().headers.value(QStringLiteral("x-vantry-secret")),
              QStringLiteral("s-1"));

    Config::instance().set(ConfigKey::BackendBaseUrl, server.baseUrl()); // before Zelko's first use
    server.setAnswer(200, R"({"isSuccess":true,"response":{"version":1.0}})");
    QCoreApplication::setApplicationVersion(QStringLiteral("0.9"));
    QStringList seen;
    BackendStartup::run([&](const QString& v) { seen << v; });
    ASSERT_TRUE(waitUntil([] { return HttpConnection::pendingRequests() == 0; }));
    Zelko::setNewVersionHook({});
    Config::instance().reload();
    EXPECT_EQ(seen, QStringList{QStringLiteral("1.0")});
    EXPECT_FALSE(CrashHandler::storedReport().has_value());
}

TEST_F(ZelkoAnswersTest, CheckVersionComparesShortestDecimalText) {
    struct Case {
        const char* running;
        QByteArray body;
        std::optional<QString> alert;
    };
    const Case cases[] = {
        {"2", R"({"isSuccess":true,"response":{"version":2}})", QStringLiteral("2.0")},
        {"2.0", R"({"isSuccess":true,"response":{"version":2}})", std::nullopt},
        {"1.5", R"({"isSuccess":true,"response":{"version":1.5}})", std::nullopt},
        {"1.0", R"({"isSuccess":true,"response":{"version":1.25}})", QStringLiteral("1.25")},
        {"", R"({"isSuccess":true,"response":{"version":1.0}})", QStringLiteral("1.0")},
        {"1.0", R"({"isSuccess":true,"response":{"version":"2.0"}})", std::nullopt},
        {"1.0", R"({"isSuccess":true,"response":{}})", std::nullopt},
        {"1.0", R"({"isSuccess":false,"response":{"version":2}})", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.running) + " vs " + c.body.toStdString());
        QCoreApplication::setApplicationVersion(QString::fromLatin1(c.running));
        std::optional<QString> alert;
        answer(c.body,
               [&](const BackendApi& api) { api.checkVersion([&](const QString& v) { alert = v; }); });
        EXPECT_EQ(alert, c.alert);
    }
}

} // namespace
