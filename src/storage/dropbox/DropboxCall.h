#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class StreamingPost;
class QNetworkAccessManager;
class QTimer;

// What one Dropbox route answered, after any retries.
struct DropboxResult {
    int status = 0;       // HTTP status; 0 when no answer came
    QByteArray body;
    QJsonObject json;     // the body when it is a JSON object
    QString failureText;  // short readable text when the call failed below the route level

    bool ok() const { return status == 200; }
    bool routeError() const { return status == 409; }
    QString errorTag() const;     // ".tag" of the route error
    QString description() const;  // error_summary, user message or the plain-text body
};

// One request to Dropbox: bearer token (refreshed once if the server refuses it), then retries
// of 429 and 5xx answers and dropped connections after the server's Retry-After or a bounded
// backoff. Cancelling stops the request and any pending retry; nothing is called afterwards.
class DropboxCall : public QObject {
    Q_OBJECT
public:
    enum class Style { Rpc, Content };
    struct Request {
        Style style = Style::Rpc;
        QString route;                          // "files/create_folder_v2"
        QByteArray rpcBody = "null";            // RPC JSON body
        QByteArray arg;                         // Content: Dropbox-API-Arg value
        QString filePath;                       // Content: the body is [offset, offset + length)
        qint64 offset = 0;                      //   of this file, read afresh for every attempt
        qint64 length = 0;
    };
    using Done = std::function<void(const DropboxResult&)>;
    using Sent = std::function<void(qint64 bytesSent)>;

    DropboxCall(Request request, Done done, Sent sent = {}, QObject* parent = nullptr);
    ~DropboxCall() override;

    void start();
    void cancel();

    static constexpr int maxAttempts = 6;
    static constexpr int maxDelaySeconds = 60;

private:
    void withToken(bool forceRefresh);
    void send(const QString& token);
    void handleReply();
    void handleStream();
    struct Answer {
        int status = 0;
        QByteArray body;
        QByteArray retryAfter;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString;
    };
    void handleAnswer(const Answer& answer);
    bool retryLater(int retryAfterSeconds, const QString& why);
    void finish(const DropboxResult& result);

    Request m_request;
    Done m_done;
    Sent m_sent;
    QPointer<QNetworkReply> m_reply;
    QPointer<StreamingPost> m_stream;
    QTimer* m_retryTimer = nullptr;
    int m_attempt = 0;
    bool m_refreshedToken = false;
    bool m_cancelled = false;
};

// The network access manager every Dropbox request goes through (main thread).
QNetworkAccessManager* dropboxNetwork();
