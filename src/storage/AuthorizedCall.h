#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class OAuthSession;
class QNetworkAccessManager;
class QTimer;
class StreamingPost;

// What one provider request answered, after any retries.
struct CallResult {
    int status = 0; // HTTP status; 0 when no answer came
    QByteArray body;
    QJsonObject json;                             // the body when it is a JSON object
    QList<QPair<QByteArray, QByteArray>> headers; // answer headers, names in lower case
    QString failureText; // short readable text when the call failed below the request level
    QNetworkReply::NetworkError transport = QNetworkReply::NoError; // why no answer came (status 0)

    bool ok() const { return status >= 200 && status < 300; }
    bool routeError() const { return status == 409; }
    QByteArray header(const QByteArray& lowerCaseName) const;
    QString errorTag() const;    // Dropbox: ".tag" of the route error
    QString description() const; // the provider's error summary or message, or the plain-text body
};

struct CallRequest {
    QByteArray method = "POST";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers; // besides Authorization
    QByteArray body;
    // A body streamed from [offset, offset + length) of this file instead, read afresh per attempt.
    QString filePath;
    qint64 offset = 0;
    qint64 length = 0;
    QString label; // for the log: "Dropbox files/upload"
    // When set, the token travels in this query item instead of an Authorization header.
    QString tokenQueryItem;
    bool retry = true;    // repeat 429, 5xx and dropped connections here
    bool retryCut = true; // with retry: also a request whose connection dropped (else the caller resumes)
};

// One request with a bearer token (refreshed once if the server refuses it), then retries of 429
// and 5xx answers and dropped connections after the server's Retry-After or a bounded doubling
// backoff. Cancelling stops the request and any pending retry; nothing is called afterwards.
class AuthorizedCall : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const CallResult&)>;
    using Sent = std::function<void(qint64 bytesSent)>;

    AuthorizedCall(OAuthSession& auth, CallRequest request, Done done, Sent sent = {},
                   QObject* parent = nullptr);
    ~AuthorizedCall() override;

    void start();
    void cancel();

    static constexpr int maxAttempts = 6;
    static constexpr int maxDelaySeconds = 60;

private:
    struct Answer {
        int status = 0;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString;
    };
    void withToken(bool forceRefresh);
    void send(const QString& token);
    void handleReply();
    void handleStream();
    void handleAnswer(const Answer& answer);
    bool retryLater(int retryAfterSeconds, const QString& why);
    void finish(const CallResult& result);

    OAuthSession& m_auth;
    CallRequest m_request;
    Done m_done;
    Sent m_sent;
    QPointer<QNetworkReply> m_reply;
    QPointer<StreamingPost> m_stream;
    QTimer* m_retryTimer = nullptr;
    int m_attempt = 0;
    bool m_refreshedToken = false;
    bool m_cancelled = false;
};

// The network access manager every provider request goes through (main thread).
QNetworkAccessManager* storageNetwork();
