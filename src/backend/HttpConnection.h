#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QObject;

// What the caller expects at the top level of a JSON answer.
enum class ResponseKind { array = 0, text = 1, dictionary = 2 };

using HttpHeaders = QList<QPair<QString, QString>>;

// The raw outcome of one HTTP exchange.
struct HttpReply {
    bool transportOk = false; // false: no HTTP answer at all (refused, timed out, DNS, …)
    int status = 0;
    QByteArray body;
    QString errorText; // one sentence naming the cause; empty when transportOk
};

// The one generic request routine of the backend client. Every completion runs on the main
// thread, exactly once, also when the request is started from another thread.
class HttpConnection {
public:
    using Completion = std::function<void(const QJsonValue& result, bool isError, const QString& message)>;
    using RawCompletion = std::function<void(const HttpReply& reply)>;
    // Answers whether the default route is up; nullopt when no probe is available.
    using ReachabilityProbe = std::function<std::optional<bool>(const QUrl& url)>;

    // Sends method (GET or POST) with the headers and the JSON encoding of parameters as body
    // (an empty object when there are none, for GET too) and decodes the answer per kind.
    // When offline, on transport errors or on non-JSON answers the completion gets an empty
    // value of the expected kind. A context that is destroyed before the answer cancels the
    // completion.
    static void request(const QUrl& url, const QString& method, ResponseKind kind, const HttpHeaders& headers,
                        const std::optional<QJsonObject>& parameters, Completion completion,
                        QObject* context = nullptr);

    // The exchange without reachability probe or decoding: status and body bytes.
    static void send(const QUrl& url, const QString& method, const HttpHeaders& headers,
                     const QByteArray& body, RawCompletion completion, QObject* context = nullptr);

    // The empty value of a kind: [], "" or {}.
    static QJsonValue emptyResult(ResponseKind kind);

    // Tests replace the probe to simulate an offline machine; an empty function restores the
    // system's (QNetworkInformation when a backend loads, otherwise "reachable").
    static void setReachabilityProbe(ReachabilityProbe probe);
    static bool isReachable(const QUrl& url);

    // Number of requests started and not yet completed (start-up waits on it before exit).
    static int pendingRequests();

private:
    static void sendDecoded(const QUrl& url, const QString& method, ResponseKind kind,
                            const HttpHeaders& headers, const std::optional<QJsonObject>& parameters,
                            Completion completion, QObject* context);
};
