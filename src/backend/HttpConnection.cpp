#include "backend/HttpConnection.h"

#include "core/Config.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkInformation>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

std::atomic<int> g_pending{0};

QMutex& probeMutex() {
    static QMutex mutex;
    return mutex;
}
HttpConnection::ReachabilityProbe& customProbe() {
    static HttpConnection::ReachabilityProbe probe;
    return probe;
}

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::optional<bool> systemProbe(const QUrl& url) {
    // The default route says nothing about a development backend on this machine.
    if (isLoopback(url))
        return true;
    static const bool loaded =
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    QNetworkInformation* info = loaded ? QNetworkInformation::instance() : nullptr;
    if (!info)
        return std::nullopt;
    return info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

QNetworkAccessManager* manager() {
    // Lives on the main thread with the application object; replies finish there.
    static QPointer<QNetworkAccessManager> instance;
    if (!instance)
        instance = new QNetworkAccessManager(QCoreApplication::instance());
    return instance;
}

int timeoutSeconds() {
    const int seconds = Config::instance().intValue(ConfigKey::BackendRequestTimeoutSeconds);
    return seconds > 0 ? seconds : 30;
}

// One sentence for an exchange that got no HTTP answer. Nothing here aborts a reply, so a
// cancelled one is the transfer time-out.
QString noAnswerText(const QNetworkReply& reply, int seconds) {
    if (reply.error() == QNetworkReply::OperationCanceledError ||
        reply.error() == QNetworkReply::TimeoutError)
        return QStringLiteral("The Vantry server did not answer within %1 seconds.").arg(seconds);
    return QStringLiteral("The Vantry server could not be reached (%1).").arg(reply.errorString());
}

// Runs fn on the main thread: at once when already there, else queued.
void onMainThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        fn();
    else
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

// Delivers later on the main thread, never from inside the caller's own call.
void deliverLater(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void startSend(const QUrl& url, const QString& method, const HttpHeaders& headers, const QByteArray& body,
               const std::shared_ptr<HttpConnection::RawCompletion>& done) {
    QNetworkRequest request(url);
    for (const auto& [name, value] : headers) {
        // A null value would remove the header; an empty Authorization is still sent.
        QByteArray bytes = value.toUtf8();
        if (bytes.isNull())
            bytes = QByteArray("");
        request.setRawHeader(name.toUtf8(), bytes);
    }
    const int seconds = timeoutSeconds();
    request.setTransferTimeout(seconds * 1000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // sendCustomRequest carries a body for any verb, which GET needs here.
    QNetworkReply* reply = manager()->sendCustomRequest(request, method.toLatin1(), body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done, seconds] {
        HttpReply out;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // An HTTP error status still carries the backend's JSON answer; only a missing
        // status means there was no answer.
        out.transportOk = status.isValid();
        out.status = status.toInt();
        if (reply->isOpen())
            out.body = reply->readAll();
        if (!out.transportOk)
            out.errorText = noAnswerText(*reply, seconds);
        reply->deleteLater();
        (*done)(out);
    });
}

} // namespace

QJsonValue HttpConnection::emptyResult(ResponseKind kind) {
    switch (kind) {
    case ResponseKind::array:
        return QJsonArray();
    case ResponseKind::text:
        return QString();
    case ResponseKind::dictionary:
        break;
    }
    return QJsonObject();
}

void HttpConnection::setReachabilityProbe(ReachabilityProbe probe) {
    QMutexLocker lock(&probeMutex());
    customProbe() = std::move(probe);
}

bool HttpConnection::isReachable(const QUrl& url) {
    ReachabilityProbe probe;
    {
        QMutexLocker lock(&probeMutex());
        probe = customProbe();
    }
    const std::optional<bool> up = probe ? probe(url) : systemProbe(url);
    return up.value_or(true);
}

int HttpConnection::pendingRequests() {
    return g_pending.load();
}

void HttpConnection::send(const QUrl& url, const QString& method, const HttpHeaders& headers,
                          const QByteArray& body, RawCompletion completion, QObject* context) {
    ++g_pending;
    QPointer<QObject> guard(context);
    const bool guarded = context != nullptr;
    auto done = std::make_shared<RawCompletion>(
        [completion = std::move(completion), guard, guarded](const HttpReply& r) {
            --g_pending;
            if (!guarded || guard)
                completion(r);
        });
    onMainThread([url, method, headers, body, done] { startSend(url, method, headers, body, done); });
}

void HttpConnection::request(const QUrl& url, const QString& method, ResponseKind kind,
                             const HttpHeaders& headers, const std::optional<QJsonObject>& parameters,
                             Completion completion, QObject* context) {
    // The probe (a QObject once loaded) belongs to the main thread, like the requests.
    ++g_pending;
    QPointer<QObject> guard(context);
    const bool guarded = context != nullptr;
    onMainThread([=, completion = std::move(completion)]() mutable {
        --g_pending;
        if (guarded && !guard)
            return;
        if (!isReachable(url)) {
            ++g_pending;
            deliverLater([completion = std::move(completion), kind, guard, guarded] {
                --g_pending;
                if (!guarded || guard)
                    completion(emptyResult(kind), true, QStringLiteral("The network connection is offline."));
            });
            return;
        }
        sendDecoded(url, method, kind, headers, parameters, std::move(completion), guard.data());
    });
}

void HttpConnection::sendDecoded(const QUrl& url, const QString& method, ResponseKind kind,
                                 const HttpHeaders& headers, const std::optional<QJsonObject>& parameters,
                                 Completion completion, QObject* context) {
    const QByteArray body = QJsonDocument(parameters.value_or(QJsonObject())).toJson(QJsonDocument::Compact);
    send(
        url, method, headers, body,
        [completion = std::move(completion), kind](const HttpReply& reply) {
            if (!reply.transportOk) {
                completion(emptyResult(kind), true, reply.errorText);
                return;
            }
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(reply.body, &error);
            if (error.error != QJsonParseError::NoError) {
                completion(emptyResult(kind), true, QStringLiteral("The server's answer is not JSON."));
                return;
            }
            if (!doc.isObject() && !doc.isArray()) {
                completion(emptyResult(kind), true,
                           QStringLiteral("The server's answer is neither an object nor an array."));
                return;
            }
            if (kind == ResponseKind::text) {
                QStringDecoder decoder(QStringDecoder::Utf8);
                const QString text = decoder.decode(reply.body);
                completion(decoder.hasError() ? QString() : text, false, QString());
                return;
            }
            completion(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array()), false, QString());
        },
        context);
}
