#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QUrl>

class QAbstractSocket;
class QTimer;

// One HTTP/1.1 request (POST, PUT) whose body is a range of a file, written to the socket in large blocks.
// QNetworkAccessManager feeds upload bodies through its own thread 16 KiB at a time, which
// caps large uploads far below what the link carries; this writes 1 MiB blocks instead. The queue
// stays short on purpose: whatever is still queued when a chunk's last byte is handed over must
// drain before the server can answer, and the next chunk waits for that answer.
// Each request uses its own connection ("Connection: close").
class StreamingPost : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    StreamingPost(const QByteArray& method, const QUrl& url, Headers headers, const QString& filePath,
                  qint64 offset, qint64 length, QObject* parent = nullptr);
    ~StreamingPost() override;

    void start();
    void abort();

    int status() const { return m_status; }
    QByteArray body() const { return m_body; }
    QByteArray header(const QByteArray& lowerCaseName) const;
    Headers headers() const { return m_answerHeaders; }
    // NoError when an answer came; otherwise the failure in QNetworkReply's terms.
    QNetworkReply::NetworkError error() const { return m_error; }
    QString errorString() const { return m_errorString; }

    static constexpr qint64 blockSize = 1 << 20;
    static constexpr qint64 queueTarget = 1 << 20;
    static constexpr int idleTimeoutMs = 60000;

signals:
    void uploadProgress(qint64 sent, qint64 total);
    void finished();

private:
    void sendHead();
    void pump();
    void onBytesWritten(qint64 n);
    void onReadyRead();
    void onSocketError();
    bool parseAnswer(bool connectionClosed);
    void fail(QNetworkReply::NetworkError error, const QString& text);
    void complete();

    QByteArray m_method;
    QUrl m_url;
    Headers m_headers;
    QFile m_file;
    qint64 m_offset;
    qint64 m_length;
    QAbstractSocket* m_socket = nullptr;
    QTimer* m_idle = nullptr;
    qint64 m_headSize = 0;
    qint64 m_queued = 0;  // body bytes handed to the socket
    qint64 m_written = 0; // head and body bytes the socket has written
    QByteArray m_in;
    int m_status = 0;
    QList<QPair<QByteArray, QByteArray>> m_answerHeaders;
    QByteArray m_body;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
    bool m_done = false;
};
