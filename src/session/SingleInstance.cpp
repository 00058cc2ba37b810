#include "session/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

SingleInstance::SingleInstance(QObject* parent) : QObject(parent), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QString line = QString::fromUtf8(socket->readLine()).trimmed();
                    if (line.isEmpty()) { // end of the batch
                        socket->write("ok\n");
                        socket->flush();
                        continue;
                    }
                    emit urlReceived(line);
                }
            });
        }
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/vantry.socket");
}

bool SingleInstance::sendToRunning(const QStringList& urls, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray batch;
    for (const QString& url : urls)
        batch += url.toUtf8().replace('\n', "%0A") + '\n';
    socket.write(batch + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

bool SingleInstance::listen() {
    // Asked first: listening with access options renames a new socket over any existing one.
    QLocalSocket probe;
    probe.connectToServer(socketPath());
    if (probe.waitForConnected(500))
        return false; // another instance is alive
    QLocalServer::removeServer(socketPath());
    return m_server->listen(socketPath());
}
