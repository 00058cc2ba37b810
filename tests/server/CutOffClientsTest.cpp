// Clients that go away or stall part-way through a request: cancelled downloads, bodies that
// never finish, and requests turned away on their header alone.
#include "RawSocket.h"
#include "ServerTestUtil.h"

#include <vector>

namespace {

TEST(CutOffClients, AThousandCancelledDownloadsLeaveTheServerAnswering) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        ServerOptions options{.dataDir = testsupport::makeTempDir("cancel")};
        ASSERT_TRUE(!tls || useTls(options, options.dataDir));
        auto server = startServer(options);
        ASSERT_TRUE(server);
        testsupport::writeFile(options.dataDir + "/files/Vantry/job/App.apk", QByteArray(2 << 20, 'a'));
        const auto connect = [&] {
            auto c = std::make_unique<httplib::Client>((tls ? "https://127.0.0.1:" : "http://127.0.0.1:") +
                                                       std::to_string(server->port()));
            c->enable_server_certificate_verification(false);
            return c;
        };
        const auto client = connect();
        int cancelled = 0;
        for (int i = 0; i < 1000; ++i) {
            size_t got = 0;
            // Like a phone that cancels the install: read 100 KB, then close the connection.
            const auto r = client->Get("/files/Vantry/job/App.apk", [&got](const char*, size_t n) {
                got += n;
                return got < 100 * 1000;
            });
            cancelled += !r && r.error() == httplib::Error::Canceled;
        }
        EXPECT_EQ(cancelled, 1000);
        EXPECT_EQ(status(connect()->Get("/healthz")), 200);
    }
}

TEST(CutOffClients, RequestsAreTurnedAwayOnTheirHeaderBeforeTheBody) {
    auto server = startServer();
    ASSERT_TRUE(server);
    const struct {
        const char* request;
        const char* answer;
    } cases[] = {
        {"POST /createapp HTTP/1.1\r\nHost: x\r\nContent-Length: 900000\r\n\r\n", "HTTP/1.1 401"},
        {"POST /createapp HTTP/1.1\r\nHost: x\r\nAuthorization: not a user\r\nContent-Length: 9000\r\n\r\n",
         "HTTP/1.1 401"},
        {"POST /storage/folders HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n", "HTTP/1.1 401"},
        {"POST /addnewuser HTTP/1.1\r\nHost: x\r\nContent-Length: 900000\r\n\r\n", "HTTP/1.1 413"},
        {"POST /no/such/route HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n", "HTTP/1.1 404"},
        {"PUT /createapp HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n", "HTTP/1.1 405"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.request);
        RawSocket s(server->port());
        s.send(k.request); // and never the body
        bool closed = false;
        const QByteArray answer = s.receive(3000, &closed);
        EXPECT_TRUE(answer.startsWith(k.answer)) << answer.constData();
        EXPECT_TRUE(closed) << "the unread body cannot be told from a next request";
    }
}

TEST(CutOffClients, BodiesHeldInMemoryShareOneBound) {
    auto server = startServer({.maxBufferedBodyBytes = 3 << 20});
    ASSERT_TRUE(server);
    // Clients announce 1 MiB bodies and send one byte; past three, they are refused at once.
    const auto stall = [&](int count) {
        std::vector<std::unique_ptr<RawSocket>> clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<RawSocket>(server->port()));
            clients.back()->send("POST /reportcrash HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n{");
        }
        return clients;
    };
    const auto refused = [](std::vector<std::unique_ptr<RawSocket>>& clients, int waitMs) {
        int busy = 0;
        for (auto& client : clients) {
            const QByteArray answer = client->receive(waitMs);
            busy += answer.startsWith("HTTP/1.1 503") ? 1 : answer.isEmpty() ? 0 : 100;
        }
        return busy;
    };
    {
        auto clients = stall(6);
        EXPECT_EQ(refused(clients, 500), 3);
    }
    // Once the stalled clients are gone, their share is free again.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        auto clients = stall(3);
        return refused(clients, 200) == 0;
    }));
}

} // namespace
