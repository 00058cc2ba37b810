#include "CannedServer.h"

#include <QTcpSocket>

CannedServer::CannedServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString CannedServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
}

void CannedServer::setAnswer(int status, const QByteArray& body, bool answer, const QByteArray& type) {
    m_status = status;
    m_body = body;
    m_answer = answer;
    m_type = type;
}

void CannedServer::onReadyRead(QTcpSocket* socket) {
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = QString::fromLatin1(first.value(0));
    request.path = QString::fromLatin1(first.value(1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(QString::fromLatin1(lines[i].left(colon)).toLower(),
                                   QString::fromUtf8(lines[i].mid(colon + 1).trimmed()));
    }
    const qsizetype length = request.headers.value(QStringLiteral("content-length")).toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    m_buffers.remove(socket);
    m_requests.append(request);
    if (!m_answer)
        return;
    socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Type: " + m_type +
                  "\r\nContent-Length: " + QByteArray::number(m_body.size()) +
                  "\r\nConnection: close\r\n\r\n" + m_body);
    socket->disconnectFromHost();
}
