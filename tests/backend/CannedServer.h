#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>

// A loopback HTTP server with one pre-set answer, recording every request it receives
// (including GET bodies). Runs on the test's event loop; the backend and ui tests use it.
class CannedServer : public QObject {
public:
    struct Request {
        QString method;
        QString path;
        QHash<QString, QString> headers; // names in lower case
        QByteArray body;
    };

    CannedServer();
    QString baseUrl() const;

    // The answer to every following request; answer == false keeps connections unanswered.
    void setAnswer(int status, const QByteArray& body, bool answer = true,
                   const QByteArray& type = "application/json");
    const QList<Request>& requests() const { return m_requests; }

private:
    void onReadyRead(class QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<Request> m_requests;
    int m_status = 200;
    QByteArray m_body = "{}";
    QByteArray m_type = "application/json";
    bool m_answer = true;
};
