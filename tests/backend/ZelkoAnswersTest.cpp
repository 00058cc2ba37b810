// How the endpoint operations treat the answers a misbehaving backend could give.
#include "CannedServer.h"
#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/CrashHandler.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonDocument>

using testsupport::waitUntil;

namespace {

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
        EXPECT_EQ(ids, *c.ids); // minOS/QRLink mapping: RecordsTest and ZelkoServerTest
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
}

TEST_F(ZelkoAnswersTest, CreateAppSendsOwnerFromCurrentUserAndNeedsTextUrl) {
    Zapp app;
    app.userid = QStringLiteral("someone-else");
    app.appid = QStringLiteral("abcdefghij");
    app.appMinOS = QStringLiteral("14.0");
    app.qrLink = QStringLiteral("https://q");
    app.bundleID = QStringLiteral("com.example.demo");
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
    EXPECT_EQ(lastBody(), QJsonDocument::fromJson(
                              R"({"userid":"u1","appname":"","appicon":"","appversion":"","appurl":"",)"
                              R"("appid":"abcdefghij","appdate":"","appsize":"","minos":"14.0",)"
                              R"("qrLink":"https://q","appdescription":"","bundleid":"com.example.demo"})")
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

TEST_F(ZelkoAnswersTest, FailedAddNewUserAndReportCrashLogResponse) {
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
