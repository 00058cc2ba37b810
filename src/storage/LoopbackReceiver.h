#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;

// The loopback end of an authorization redirect: a listener on 127.0.0.1 that answers the
// browser with a short page and hands the redirect URL on. Only one redirect is taken; requests
// for other paths (a browser asking for its favicon) get a 404.
class LoopbackReceiver : public QObject {
    Q_OBJECT
public:
    explicit LoopbackReceiver(QObject* parent = nullptr);
    ~LoopbackReceiver() override;

    // Listens on port (0: a free one) for GET requests to path. False when the port is taken.
    bool listen(quint16 port, const QString& path);
    void close();
    quint16 port() const;
    // http://127.0.0.1:<port><path>
    QUrl redirectUri() const;

signals:
    void redirected(const QUrl& url);

private:
    void serve(class QTcpSocket* socket);

    QTcpServer* m_server;
    QString m_path;
};
