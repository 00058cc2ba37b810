#include "backend/HttpConnection.h"
#include "CannedServer.h"
#include "core/Config.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
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
    static Outcome run(const QUrl& target, const char* method, ResponseKind kind,
                       const std::optional<QJsonObject>& body = std::nullopt,
                       const HttpHeaders& headers = kJson) {
        auto o = std::make_shared<Outcome>();
        HttpConnection::request(target, QString::fromLatin1(method), kind, headers, body, recordInto(o));
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
    Outcome o = run(url(), "POST", ResponseKind::dictionary, QJsonObject{{QStringLiteral("a"), 1}});
    EXPECT_EQ(server.requests().constLast().body, QByteArray(R"({"a":1})"));
    EXPECT_EQ(o.calls, 1);
    EXPECT_FALSE(o.isError);
    EXPECT_EQ(o.result, QJsonValue(QJsonObject{{QStringLiteral("response"), QStringLiteral("no")}}));
    for (const QByteArray& answer :
         {QByteArray("<html>oops</html>"), QByteArray(R"({"isSuccess":tr)"), QByteArray()}) {
        SCOPED_TRACE(answer.constData());
        server.setAnswer(200, answer);
        o = run(url(), "GET", ResponseKind::dictionary);
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError && !o.message.isEmpty());
        EXPECT_EQ(o.result, QJsonValue(QJsonObject()));
    }
}

// Offline: nothing is sent, and the completion comes later, never inside request(). Unknown
// reachability sends as usual.
TEST_F(HttpConnectionTest, ReachabilityProbeDecidesWhetherToSend) {
    HttpConnection::setReachabilityProbe([](const QUrl&) { return std::optional<bool>(false); });
    auto o = std::make_shared<Outcome>();
    HttpConnection::request(url(), QStringLiteral("GET"), ResponseKind::dictionary, kJson, std::nullopt,
                            recordInto(o));
    EXPECT_EQ(o->calls, 0);
    settle(*o);
    EXPECT_EQ(o->calls, 1);
    EXPECT_EQ(o->result, QJsonValue(QJsonObject()));
    EXPECT_EQ(o->message, QStringLiteral("The network connection is offline."));
    EXPECT_TRUE(server.requests().isEmpty());

    HttpConnection::setReachabilityProbe([](const QUrl&) { return std::optional<bool>(); });
    EXPECT_FALSE(run(url(), "GET", ResponseKind::dictionary).isError);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(HttpConnectionTest, RefusedConnectionAndSilentServerEndInError) {
    Config::instance().set(ConfigKey::BackendRequestTimeoutSeconds, QStringLiteral("1"));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()));
    server.setAnswer(200, "{}", false);
    // One sentence each, as a job shows it with "Error".
    const std::pair<QUrl, QString> cases[] = {
        {refused, QStringLiteral("The Vantry server could not be reached (Connection refused).")},
        {url(), QStringLiteral("The Vantry server did not answer within 1 seconds.")}};
    for (const auto& [target, message] : cases) {
        SCOPED_TRACE(target.toString().toStdString());
        const Outcome o = run(target, "GET", ResponseKind::dictionary);
        EXPECT_EQ(o.calls, 1);
        EXPECT_TRUE(o.isError);
        EXPECT_EQ(o.result, QJsonValue(QJsonObject()));
        EXPECT_EQ(o.message, message);
    }
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

} // namespace
