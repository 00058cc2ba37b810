// Webhooks against receivers this test starts on loopback: the events a publish and an install
// send, and what the sender does when a receiver fails, stalls, redirects or is not there.
#include "server/webhooks/Webhooks.h"
#include "ServerTestUtil.h"
#include "server/Database.h"
#include "server/webhooks/WebhookSender.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A receiver on a free loopback port: keeps what it is sent and answers as told.
class Receiver {
public:
    using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;
    explicit Receiver(Answer answer = {}) : m_answer(std::move(answer)) {
        m_server.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                m_bodies.push_back(QByteArray::fromStdString(request.body));
                m_signatures.push_back(
                    QByteArray::fromStdString(request.get_header_value("X-Vantry-Signature")));
            }
            if (m_answer)
                m_answer(request, response);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~Receiver() {
        m_server.stop();
        m_thread.join();
    }
    QString url(const char* host = "127.0.0.1") const {
        return QStringLiteral("http://%1:%2/hooks/T0KEN").arg(QLatin1String(host)).arg(m_port);
    }
    int port() const { return m_port; }
    std::vector<QByteArray> bodies() {
        std::lock_guard lock(m_mutex);
        return m_bodies;
    }
    std::vector<QByteArray> signatures() {
        std::lock_guard lock(m_mutex);
        return m_signatures;
    }

private:
    Answer m_answer;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<QByteArray> m_bodies;
    std::vector<QByteArray> m_signatures;
};

// Holds the receiver's answers until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void wait() {
        std::unique_lock lock(mutex);
        opened.wait_for(lock, std::chrono::seconds(30), [this] { return open; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
};

QJsonObject json(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

} // namespace

TEST(Webhooks, PublishAndInstallSendSignedEventsWithoutWaitingForTheReceiver) {
    Gate gate;
    Receiver receiver([&gate](const httplib::Request&, httplib::Response& r) {
        gate.wait();
        r.status = 204;
    });
    ServerOptions options;
    options.webhooks = {receiver.url()};
    options.webhookSecret = QStringLiteral("team-secret");
    auto server = startServer(options);
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->port());
    const std::string secret = signUp(client, QStringLiteral("ann"));
    const QVariantMap fields{{QStringLiteral("appname"), QStringLiteral("Demo <!channel>")},
                             {QStringLiteral("appversion"), QStringLiteral("1.3")},
                             {QStringLiteral("appdescription"), QStringLiteral("Try the login")},
                             {QStringLiteral("bundleid"), QStringLiteral("com.example.demo")}};
    // Both answer while the receiver still holds its first answer back.
    ASSERT_EQ(postApp(client, QStringLiteral("ann"), QStringLiteral("hookApp001"), fields, secret), 201);
    const char* iphone = "Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X) AppleWebKit/605.1.15 "
                         "(KHTML, like Gecko) Version/26.6 Mobile/15E148 Safari/604.1";
    for (int i = 0; i < 2; ++i) // the second is a repeat: no event
        EXPECT_EQ(status(client.Get("/hookApp001/install", {{"User-Agent", iphone}})), 302);
    ASSERT_EQ(postApp(client, QStringLiteral("ann"), QStringLiteral("hookApp002"), {}, secret), 201);
    EXPECT_LE(receiver.bodies().size(), 1u);
    gate.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return receiver.bodies().size() >= 3; }));

    const std::vector<QByteArray> bodies = receiver.bodies();
    for (size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ(receiver.signatures()[i], WebhookSender::signature("team-secret", bodies[i]));
    const QJsonObject published = json(bodies[0]);
    const QJsonObject installed = json(bodies[1]);
    EXPECT_EQ(published.value("event").toString(), QStringLiteral("published"));
    EXPECT_EQ(installed.value("event").toString(), QStringLiteral("installed"));
    EXPECT_EQ(json(bodies[2]).value("app").toObject().value("id").toString(), QStringLiteral("hookApp002"));
    const QJsonObject app = published.value("app").toObject();
    const QString key = server->database().app(QStringLiteral("hookApp001"))->latestKey;
    EXPECT_EQ(app, (QJsonObject{{"id", "hookApp001"},
                                {"name", "Demo <!channel>"},
                                {"version", "1.3"},
                                {"platform", "ios"},
                                {"bundleId", "com.example.demo"},
                                {"link", server->publicUrl() + "hookApp001"},
                                {"latestLink", server->publicUrl() + "l/" + key},
                                {"notes", "Try the login"}}));
    EXPECT_EQ(installed.value("app").toObject(), app);
    EXPECT_EQ(installed.value("install").toObject(),
              (QJsonObject{{"platform", "ios"}, {"os", "iOS 18.7"}, {"device", "Apple iPhone"}}));
    // Chat services show "text"; Slack would read "<!channel>" as a mention.
    EXPECT_EQ(published.value("text").toString(),
              QStringLiteral("Demo &lt;!channel&gt; 1.3 (iOS) is ready to test: %1l/%2\nTry the login")
                  .arg(server->publicUrl(), key));
    EXPECT_EQ(installed.value("text").toString(),
              QStringLiteral(
                  "Demo &lt;!channel&gt; 1.3 (iOS) was installed on Apple iPhone, iOS 18.7: %1hookApp001")
                  .arg(server->publicUrl()));
}

// What each receiver gets, and whether the event counts as delivered or dropped.
TEST(WebhookSender, TriesAgainOnlyWhereItMayHelp) {
    QTcpServer closed; // a port where nothing listens once it is closed again
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString down = QStringLiteral("http://127.0.0.1:%1/hook").arg(closed.serverPort());
    closed.close();
    Receiver elsewhere;
    Gate never;
    const struct {
        const char* what;
        Receiver::Answer answer; // none: nothing listens
        int tries;
        int requests; // the receiver's
        quint64 delivered;
    } cases[] = {
        {"answers 200", [](const httplib::Request&, httplib::Response& r) { r.status = 200; }, 1, 1, 1},
        {"answers 503", [](const httplib::Request&, httplib::Response& r) { r.status = 503; }, 3, 3, 0},
        {"answers 404", [](const httplib::Request&, httplib::Response& r) { r.status = 404; }, 1, 1, 0},
        {"stalls past the time-out", [&never](const httplib::Request&, httplib::Response&) { never.wait(); },
         3, 3, 0},
        {"moves on its own host",
         [](const httplib::Request& q, httplib::Response& r) {
             if (q.path == "/hooks/T0KEN")
                 r.set_redirect("/moved", 308);
             else
                 r.status = 200;
         },
         1, 2, 1},
        {"moves to another host",
         [&elsewhere](const httplib::Request&, httplib::Response& r) {
             r.set_redirect(elsewhere.url("localhost").toStdString(), 307);
         },
         1, 1, 0},
        {"is not there", {}, 3, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(c.answer);
        WebhookSender::Settings settings;
        settings.urls = {c.answer ? receiver.url() : down};
        settings.timeout = std::chrono::milliseconds(300);
        settings.backoff = std::chrono::milliseconds(20);
        WebhookSender sender(settings);
        ASSERT_TRUE(sender.send("published", R"({"event":"published"})"));
        ASSERT_TRUE(
            testsupport::waitUntil([&] { return sender.counts().delivered + sender.counts().dropped == 1; }));
        EXPECT_EQ(sender.counts().delivered, c.delivered);
        EXPECT_EQ(sender.counts().tries, quint64(c.tries));
        EXPECT_EQ(int(receiver.bodies().size()), c.requests);
        if (QLatin1String(c.what).startsWith(QLatin1String("stalls")))
            never.release(); // before the receiver goes: its stalled answers end
    }
    EXPECT_TRUE(elsewhere.bodies().empty());
}

// A receiver that takes nothing off the queue: the queue stops at its bound and the rest is dropped.
TEST(WebhookSender, QueueIsBounded) {
    Gate gate;
    Receiver receiver([&gate](const httplib::Request&, httplib::Response&) { gate.wait(); });
    WebhookSender::Settings settings;
    settings.urls = {receiver.url()};
    std::optional<WebhookSender> sender(std::in_place, settings);
    ASSERT_TRUE(sender->send("published", "{}"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return receiver.bodies().size() == 1; })); // the worker is held
    int taken = 0;
    for (int i = 0; i < 1010; ++i)
        taken += sender->send("published", "{}") ? 1 : 0;
    EXPECT_EQ(taken, 1000);
    EXPECT_EQ(sender->counts().dropped, 10u);
    gate.release();
    sender.reset(); // stopping drops what waits, without waiting for it
}
