// Webhooks against receivers this test starts on loopback: the events a publish and an install
// send, and what the sender does when a receiver fails, stalls, redirects or is not there.
#include "server/webhooks/Webhooks.h"
#include "ServerTestUtil.h"
#include "server/Database.h"
#include "server/webhooks/WebhookSender.h"

#include <future>
#include <mutex>
#include <thread>

namespace {

// A receiver on a free loopback port: keeps each body with its signature and answers as told.
class Receiver {
public:
    using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;
    using Received = std::vector<std::pair<QByteArray, QByteArray>>;
    explicit Receiver(Answer answer = {}) {
        m_server.Post(".*", [this, answer](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                m_received.emplace_back(
                    QByteArray::fromStdString(request.body),
                    QByteArray::fromStdString(request.get_header_value("X-Vantry-Signature")));
            }
            if (answer)
                answer(request, response);
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
    Received received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    Received m_received;
};

// Holds the receiver's answers until released.
struct Gate {
    std::promise<void> opened;
    std::shared_future<void> open = opened.get_future().share();
    void wait() const { open.wait_for(std::chrono::seconds(30)); }
    void release() { opened.set_value(); }
};

} // namespace

TEST(Webhooks, PublishAndInstallSendSignedEventsWithoutWaitingForTheReceiver) {
    Gate gate;
    Receiver receiver([&gate](const httplib::Request&, httplib::Response& r) {
        gate.wait();
        r.status = 204;
    });
    auto server = startServer({.webhooks = {receiver.url()}, .webhookSecret = "team-secret"});
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->port());
    const std::string secret = signUp(client, "ann");
    const QVariantMap fields{{"appname", "Demo <!channel>"},
                             {"appversion", "1.3"},
                             {"appdescription", "Try the login"},
                             {"bundleid", "com.example.demo"}};
    // Both answer while the receiver still holds its first answer back.
    ASSERT_EQ(postApp(client, "ann", "hookApp001", fields, secret), 201);
    for (int i = 0; i < 2; ++i) // the second is a repeat: no event
        EXPECT_EQ(status(client.Get("/hookApp001/install", {{"User-Agent", kIPhone}})), 302);
    ASSERT_EQ(postApp(client, "ann", "hookApp002", {}, secret), 201);
    EXPECT_LE(receiver.received().size(), 1u);
    gate.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return receiver.received().size() >= 3; }));

    const Receiver::Received got = receiver.received();
    for (const auto& [body, signature] : got)
        EXPECT_EQ(signature, WebhookSender::signature("team-secret", body));
    const QJsonObject published = jsonOf(got[0].first);
    const QJsonObject installed = jsonOf(got[1].first);
    EXPECT_EQ(published.value("event").toString(), "published");
    EXPECT_EQ(installed.value("event").toString(), "installed");
    EXPECT_EQ(jsonOf(got[2].first).value("app").toObject().value("id").toString(), "hookApp002");
    const QJsonObject app = published.value("app").toObject();
    const QString key = server->database().app("hookApp001")->latestKey;
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
    const QString down = QStringLiteral("http://127.0.0.1:%1/hook").arg(testsupport::freePort());
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
        EXPECT_EQ(int(receiver.received().size()), c.requests);
        if (QLatin1String(c.what).startsWith(QLatin1String("stalls")))
            never.release(); // before the receiver goes: its stalled answers end
    }
    EXPECT_TRUE(elsewhere.received().empty());
}

// A receiver that takes nothing off the queue: the queue stops at its bound and the rest is dropped.
TEST(WebhookSender, QueueIsBounded) {
    Gate gate;
    Receiver receiver([&gate](const httplib::Request&, httplib::Response&) { gate.wait(); });
    WebhookSender::Settings settings;
    settings.urls = {receiver.url()};
    std::optional<WebhookSender> sender(std::in_place, settings);
    ASSERT_TRUE(sender->send("published", "{}"));
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return receiver.received().size() == 1; })); // the worker is held
    int taken = 0;
    for (int i = 0; i < 1010; ++i)
        taken += sender->send("published", "{}") ? 1 : 0;
    EXPECT_EQ(taken, 1000);
    EXPECT_EQ(sender->counts().dropped, 10u);
    gate.release();
    sender.reset(); // stopping drops what waits, without waiting for it
}
