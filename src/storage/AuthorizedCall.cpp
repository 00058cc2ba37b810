#include "storage/AuthorizedCall.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/NetworkErrorText.h"
#include "storage/OAuthSession.h"
#include "storage/StreamingPost.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

QByteArray CallResult::header(const QByteArray& lowerCaseName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerCaseName)
            return value;
    }
    return {};
}

QString CallResult::errorTag() const {
    return json.value(QStringLiteral("error")).toObject().value(QStringLiteral(".tag")).toString();
}

QString CallResult::description() const {
    const QString userText =
        json.value(QStringLiteral("user_message")).toObject().value(QStringLiteral("text")).toString();
    if (!userText.isEmpty())
        return userText;
    const QString summary = json.value(QStringLiteral("error_summary")).toString();
    if (!summary.isEmpty())
        return summary;
    const QString message =
        json.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
    if (!message.isEmpty())
        return message;
    if (!failureText.isEmpty())
        return failureText;
    return QString::fromUtf8(body.left(300)).trimmed();
}

QNetworkAccessManager* storageNetwork() {
    static QPointer<QNetworkAccessManager> network;
    if (!network)
        network = new QNetworkAccessManager(QCoreApplication::instance());
    return network;
}

AuthorizedCall::AuthorizedCall(OAuthSession& auth, CallRequest request, Done done, Sent sent, QObject* parent)
    : QObject(parent), m_auth(auth), m_request(std::move(request)), m_done(std::move(done)),
      m_sent(std::move(sent)) {}

AuthorizedCall::~AuthorizedCall() {
    cancel();
}

void AuthorizedCall::start() {
    ++m_attempt;
    withToken(false);
}

void AuthorizedCall::withToken(bool forceRefresh) {
    QPointer<AuthorizedCall> self(this);
    m_auth.withAccessToken(
        [self](const std::optional<QString>& token, const QString& error) {
            if (!self || self->m_cancelled)
                return;
            if (!token) {
                CallResult result;
                result.status = 401;
                result.failureText = error;
                self->finish(result);
                return;
            }
            self->send(*token);
        },
        forceRefresh);
}

void AuthorizedCall::send(const QString& token) {
    if (!m_request.filePath.isEmpty()) {
        StreamingPost::Headers headers{{"Authorization", m_auth.authorization(token)}};
        headers.append(m_request.headers);
        m_stream = new StreamingPost(m_request.method, m_request.url, std::move(headers), m_request.filePath,
                                     m_request.offset, m_request.length, this);
        if (m_sent)
            connect(m_stream, &StreamingPost::uploadProgress, this,
                    [this](qint64 sent, qint64) { m_sent(sent); });
        connect(m_stream, &StreamingPost::finished, this, &AuthorizedCall::handleStream);
        m_stream->start();
        return;
    }
    QUrl url = m_request.url;
    QNetworkRequest request;
    if (m_request.tokenQueryItem.isEmpty()) {
        request.setRawHeader("Authorization", m_auth.authorization(token));
    } else {
        QUrlQuery query(url);
        query.addQueryItem(m_request.tokenQueryItem, token);
        url.setQuery(query);
    }
    request.setUrl(url);
    for (const auto& [name, value] : m_request.headers)
        request.setRawHeader(name, value);
    request.setTransferTimeout(60000);
    // Answers such as Drive's 308 "Resume Incomplete" are read here, not followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_reply = storageNetwork()->sendCustomRequest(request, m_request.method, m_request.body);
    if (m_sent)
        connect(m_reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64) { m_sent(sent); });
    connect(m_reply, &QNetworkReply::finished, this, &AuthorizedCall::handleReply);
}

void AuthorizedCall::handleReply() {
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (m_cancelled)
        return;
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    for (const auto& [name, value] : reply->rawHeaderPairs())
        answer.headers.append({name.toLower(), value});
    answer.error = reply->error();
    answer.errorString = reply->errorString();
    handleAnswer(answer);
}

void AuthorizedCall::handleStream() {
    StreamingPost* stream = m_stream;
    m_stream = nullptr;
    if (!stream)
        return;
    stream->deleteLater();
    if (m_cancelled)
        return;
    handleAnswer(
        {stream->status(), stream->body(), stream->headers(), stream->error(), stream->errorString()});
}

void AuthorizedCall::handleAnswer(const Answer& answer) {
    CallResult result;
    result.status = answer.status;
    result.body = answer.body;
    result.json = QJsonDocument::fromJson(result.body).object();
    result.headers = answer.headers;
    const QNetworkReply::NetworkError error = answer.error;
    // Errors below 200 are the connection's own (refused, closed, timed out, proxy); an answer
    // cut off after its status line counts as no answer.
    if (error != QNetworkReply::NoError && int(error) < 200)
        result.status = 0;

    if (result.status == 0) {
        result.transport = error;
        // A connection that dropped mid-request may be tried again; an unreachable host may not.
        const bool transient = error == QNetworkReply::RemoteHostClosedError ||
                               error == QNetworkReply::TimeoutError ||
                               error == QNetworkReply::UnknownNetworkError;
        // An error text may quote the URL, which can carry the token.
        const QString why = m_request.tokenQueryItem.isEmpty() ? answer.errorString : networkErrorText(error);
        if (transient && m_request.retry && m_request.retryCut && retryLater(-1, why))
            return;
        logLine(QStringLiteral("%1 failed: %2").arg(m_request.label, why));
        result.failureText =
            error == QNetworkReply::ContentAccessDenied ? answer.errorString : networkErrorText(error);
        finish(result);
        return;
    }
    if (result.status == 401 && !m_refreshedToken) {
        m_refreshedToken = true;
        withToken(true);
        return;
    }
    if (result.status == 429 || result.status >= 500) {
        bool ok = false;
        const int retryAfter = result.header("retry-after").trimmed().toInt(&ok);
        if (m_request.retry && retryLater(ok ? retryAfter : -1, QStringLiteral("HTTP %1").arg(result.status)))
            return;
        result.failureText =
            result.status == 429
                ? QStringLiteral("%1 is receiving too many requests. Try again later.").arg(m_auth.label())
                : QStringLiteral("%1 is not answering right now. Try again later.").arg(m_auth.label());
    }
    if (result.status == 401 && result.failureText.isEmpty())
        result.failureText = QStringLiteral("Sign in to %1 again.").arg(m_auth.label());
    finish(result);
}

bool AuthorizedCall::retryLater(int retryAfterSeconds, const QString& why) {
    if (m_attempt >= maxAttempts)
        return false;
    const int base = qMax(1, Config::instance().intValue(ConfigKey::StorageRetryBackoffMilliseconds));
    const int backoff = base << qMin(m_attempt - 1, 5);
    const int delay =
        qBound(0, retryAfterSeconds >= 0 ? retryAfterSeconds * 1000 : backoff, maxDelaySeconds * 1000);
    logLine(QStringLiteral("%1: %2, retrying in %3 ms").arg(m_request.label, why).arg(delay));
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        connect(m_retryTimer, &QTimer::timeout, this, [this] {
            ++m_attempt;
            withToken(false);
        });
    }
    m_retryTimer->start(delay);
    return true;
}

void AuthorizedCall::finish(const CallResult& result) {
    if (m_cancelled)
        return;
    Done done = std::move(m_done);
    m_done = nullptr;
    // A call answers once; afterwards it is gone and a later cancel finds nothing to stop.
    deleteLater();
    if (done)
        done(result);
}

void AuthorizedCall::cancel() {
    m_cancelled = true;
    if (m_retryTimer)
        m_retryTimer->stop();
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        reply->abort();
        reply->deleteLater();
    }
    if (StreamingPost* stream = m_stream) {
        m_stream = nullptr;
        stream->abort();
        stream->deleteLater();
    }
}
