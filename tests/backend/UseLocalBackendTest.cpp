// A process of its own: the base URL is fixed by the first use of Zelko.
#include "backend/HttpConnection.h"
#include "backend/Zelko.h"
#include "core/Config.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

TEST(UseLocalBackendTest, FixedAtFirstUse) {
    Config::instance().set(ConfigKey::BackendBaseUrl, QStringLiteral("https://prod.example.test/"));
    Zelko::setUseLocalBackend(true);
    EXPECT_EQ(Zelko::baseURL(), QStringLiteral("http://127.0.0.1:8027/"));
    Zelko::setUseLocalBackend(false);
    EXPECT_EQ(Zelko::baseURL(), QStringLiteral("http://127.0.0.1:8027/"));
    EXPECT_EQ(Zelko::publicLink(QStringLiteral("abc__android")), QStringLiteral("http://127.0.0.1:8027/abc"));

    // The request itself reaches port 8027, when this machine lets us listen there.
    QTcpServer local;
    if (!local.listen(QHostAddress::LocalHost, 8027))
        GTEST_SKIP() << "port 8027 is taken; the URL checks above passed";
    QByteArray head;
    QObject::connect(&local, &QTcpServer::newConnection, [&] {
        QTcpSocket* s = local.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::readyRead, [&head, s] {
            head += s->readAll();
            if (head.contains("\r\n\r\n"))
                s->abort();
        });
    });
    Zelko::checkVersion();
    ASSERT_TRUE(testsupport::waitUntil([] { return HttpConnection::pendingRequests() == 0; }));
    EXPECT_TRUE(head.startsWith("GET /checkversion HTTP/1.1")) << head.constData();
}
