#include "storage/LoopbackReceiver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
// A request line and headers bigger than this are not a browser's redirect.
constexpr qsizetype maxRequestBytes = 16 * 1024;

QByteArray page(int status, const QByteArray& reason, const QByteArray& text) {
    const QByteArray body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Vantry</title></head>"
                            "<body style=\"font-family:sans-serif;text-align:center;margin-top:4em\"><p>" +
                            text + "</p></body></html>";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}
} // namespace

LoopbackReceiver::LoopbackReceiver(QObject* parent) : QObject(parent), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

LoopbackReceiver::~LoopbackReceiver() = default;

bool LoopbackReceiver::listen(quint16 port, const QString& path) {
    m_path = path.isEmpty() ? QStringLiteral("/") : path;
    return m_server->listen(QHostAddress::LocalHost, port);
}

void LoopbackReceiver::close() {
    m_server->close();
}

quint16 LoopbackReceiver::port() const {
    return m_server->serverPort();
}

QUrl LoopbackReceiver::redirectUri() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(m_path));
}

void LoopbackReceiver::serve(QTcpSocket* socket) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket->property("answered").toBool())
            return;
        const QByteArray head = socket->peek(maxRequestBytes + 1);
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (head.size() > maxRequestBytes)
                socket->abort();
            return;
        }
        socket->setProperty("answered", true);
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        const QUrl target = requestLine.size() == 3 ? QUrl(QString::fromLatin1(requestLine.at(1))) : QUrl();
        const bool ours = requestLine.value(0) == "GET" && target.path() == m_path && m_server->isListening();
        socket->write(ours ? page(200, "OK", "Vantry received the answer. You can close this window.")
                           : page(404, "Not Found", "Not found."));
        socket->disconnectFromHost();
        if (!ours)
            return;
        QUrl url = redirectUri();
        url.setQuery(target.query(QUrl::FullyEncoded));
        emit redirected(url);
    });
}
