#include "CannedServer.h"
#include "backend/Config.h"
#include "backend/HttpConnection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
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

HttpConnection::Completion recordInto(Outcome& o) {
    return [&o](const QJsonValue& result, bool isError, const QString& message) {
        ++o.calls;
        o.result = result;
        o.isError = isError;
        o.message = message;
        o.onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
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
    CannedServer server;
    QUrl url(const QString& path = QStringLiteral("x")) const { return QUrl(server.baseUrl() + path); }
};

TEST_F(HttpConnectionTest, GetSendsJsonBodyAndHeadersAndDecodesObjectEvenOnErrorStatus) {
    server.setAnswer(403, R"({"isSuccess":false,"response":"no"})");
    Outcome o;
    HttpConnection::request(url(QStringLiteral("app/u1")), QStringLiteral("GET"), ResponseKind::dictionary,
                            kJson + HttpHeaders{{QStringLiteral("Authorization"), QStringLiteral("u1")}},
                            std::nullopt, recordInto(o));
    settle(o);
    ASSERT_EQ(server.requests().size(), 1);
    const CannedServer::Request& r = server.requests().constFirst();
    EXPECT_EQ(r.method, QStringLiteral("GET"));
    EXPECT_EQ(r.path, QStringLiteral("/app/u1"));
    EXPECT_EQ(r.body, QByteArray("{}"));
    EXPECT_EQ(r.headers.value(QStringLiteral("authorization")), QStringLiteral("u1"));
    EXPECT_EQ(r.headers.value(QStringLiteral("content-type")), QStringLiteral("application/json"));
    EXPECT_EQ(o.calls, 1);
    EXPECT_FALSE(o.isError);
    EXPECT_TRUE(o.message.isEmpty());
    EXPECT_EQ(o.result.toObject().value(QStringLiteral("response")).toString(), QStringLiteral("no"));
}

TEST_F(HttpConnectionTest, FailuresGiveEmptyResultOfExpectedKindExactlyOnce) {
    struct Case {
        const char* name;
        QByteArray answer;
        ResponseKind kind;
        QJsonValue empty;
    };
    const Case cases[] = {
        {"html page", "<html>oops</html>", ResponseKind::dictionary, QJsonObject()},
        {"truncated json", R"({"isSuccess":tr)", ResponseKind::array, QJsonArray()},
        {"empty body", "", ResponseKind::text, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.setAnswer(200, c.answer);
        Outcome o;
        HttpConnection::request(url(), QStringLiteral("POST"), c.kind, kJson, QJsonObject{{QStringLiteral("a"), 1}},
                                recordInto(o));
        settle(o);
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError);
        EXPECT_FALSE(o.message.isEmpty());
        EXPECT_EQ(o.result, c.empty);
    }
    EXPECT_EQ(server.requests().constLast().body, QByteArray(R"({"a":1})"));
}

TEST_F(HttpConnectionTest, OfflineSendsNothing) {
    HttpConnection::setReachabilityProbe([](const QUrl&) { return std::optional<bool>(false); });
    Outcome o;
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::array, kJson, std::nullopt, recordInto(o));
    EXPECT_EQ(o.calls, 0) << "the completion must not run inside request()";
    settle(o);
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.result, QJsonValue(QJsonArray()));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(HttpConnectionTest, UnavailableProbeCountsAsReachable) {
    HttpConnection::setReachabilityProbe([](const QUrl&) { return std::optional<bool>(); });
    server.setAnswer(200, "[1,2]");
    Outcome o;
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::array, kJson, std::nullopt, recordInto(o));
    settle(o);
    EXPECT_EQ(o.result, QJsonValue(QJsonArray{1, 2}));
}

TEST_F(HttpConnectionTest, TextKindGivesTheBodyAsText) {
    server.setAnswer(200, R"({"k":"é"})");
    Outcome o;
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::text, kJson, std::nullopt, recordInto(o));
    settle(o);
    EXPECT_FALSE(o.isError);
    EXPECT_EQ(o.result.toString(), QString::fromUtf8(R"({"k":"é"})"));
}

TEST_F(HttpConnectionTest, RefusedConnectionAndSilentServerEndInError) {
    Config::instance().set(QStringLiteral("backend/requestTimeoutSeconds"), QStringLiteral("1"));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()));
    server.setAnswer(200, "{}", false);
    for (const QUrl& target : {refused, url()}) {
        SCOPED_TRACE(target.toString().toStdString());
        Outcome o;
        HttpConnection::request(target, QStringLiteral("GET"), ResponseKind::dictionary, kJson, std::nullopt,
                                recordInto(o));
        settle(o);
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError);
        EXPECT_EQ(o.result, QJsonValue(QJsonObject()));
    }
}

TEST_F(HttpConnectionTest, CompletionRunsOnMainThreadWhenStartedElsewhere) {
    server.setAnswer(200, R"({"ok":true})");
    Outcome o;
    std::thread worker([&] {
        HttpConnection::request(url(), QStringLiteral("POST"), ResponseKind::dictionary, kJson, std::nullopt,
                                recordInto(o));
    });
    worker.join();
    settle(o);
    EXPECT_EQ(o.calls, 1);
    EXPECT_TRUE(o.onMainThread);
}

TEST_F(HttpConnectionTest, DestroyedContextCancelsCompletion) {
    server.setAnswer(200, R"({"ok":true})");
    Outcome o;
    auto* context = new QObject;
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::dictionary, kJson, std::nullopt,
                            recordInto(o), context);
    delete context;
    waitUntil([] { return HttpConnection::pendingRequests() == 0; });
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(o.calls, 0);
}

} // namespace
