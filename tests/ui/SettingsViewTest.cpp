#include "UiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/AvatarLoader.h"
#include "ui/SettingsView.h"

#include <QBuffer>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

QByteArray pngBytes() {
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Answers every request from a table of path → (status line, content type, body).
class PictureServer : public QTcpServer {
public:
    struct Answer {
        QByteArray status, type, body;
    };
    QHash<QByteArray, Answer> answers;

    PictureServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    const QByteArray path = request.split(' ').value(1);
                    const Answer a = answers.value(path, {"404 Not Found", "text/plain", "no"});
                    socket->write("HTTP/1.1 " + a.status + "\r\nContent-Type: " + a.type +
                                  "\r\nConnection: close\r\nContent-Length: " +
                                  QByteArray::number(a.body.size()) + "\r\n\r\n" + a.body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost);
    }
    QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(QLatin1String(path));
    }
};

TEST(SettingsViewTest, PictureOnlyFromAnImageAnswer) {
    PictureServer server;
    ASSERT_TRUE(server.isListening());
    const QByteArray png = pngBytes();
    server.answers.insert("/ok.png", {"200 OK", "image/png", png});
    server.answers.insert("/gone.png", {"404 Not Found", "image/png", png});
    server.answers.insert("/page", {"200 OK", "text/html", png});
    server.answers.insert("/broken.png", {"200 OK", "image/png", "not a picture"});
    struct Row {
        const char* path;
        bool shown;
    };
    for (const Row& row :
         {Row{"/gone.png", false}, Row{"/page", false}, Row{"/broken.png", false}, Row{"/ok.png", true}}) {
        SCOPED_TRACE(row.path);
        QObject context;
        int images = 0, refusals = 0;
        loadAvatar(
            QUrl(server.url(row.path)), &context, [&](const QImage&) { ++images; }, [&] { ++refusals; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return images + refusals > 0; }));
        EXPECT_EQ(images, row.shown ? 1 : 0);
    }
}

TEST(SettingsViewTest, ShowsTheAccountAndItsPicture) {
    uitest::useTestLook();
    PictureServer server;
    server.answers.insert("/me.png", {"200 OK", "image/png", pngBytes()});
    SettingsView view;
    view.showProvider(QStringLiteral("Dropbox"), QStringLiteral("dropbox"));
    view.showUser({QStringLiteral("Ann Example"), QStringLiteral("ann@example.com"), QStringLiteral("id1"),
                   server.url("/me.png")});
    EXPECT_EQ(view.nameLabel()->text(), QStringLiteral("Ann Example"));
    EXPECT_EQ(view.mailLabel()->text(), QStringLiteral("ann@example.com"));
    EXPECT_EQ(view.vantryLabel()->text(), QStringLiteral("Vantry via"));
    EXPECT_FALSE(view.hostImage()->pixmap().isNull());
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.hasAvatar(); }));
    // The red picture, cut round, fills the middle of the avatar.
    const QImage shown = view.avatarImage()->pixmap().toImage();
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}

} // namespace
