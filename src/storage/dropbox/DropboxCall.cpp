#include "storage/dropbox/DropboxCall.h"

#include "backend/Config.h"
#include "backend/Log.h"
#include "storage/NetworkErrorText.h"
#include "storage/StreamingPost.h"
#include "storage/dropbox/DropboxAuth.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>

QString DropboxResult::errorTag() const {
    return json.value(QStringLiteral("error")).toObject().value(QStringLiteral(".tag")).toString();
}

QString DropboxResult::description() const {
    const QString userText = json.value(QStringLiteral("user_message")).toObject().value(QStringLiteral("text")).toString();
    if (!userText.isEmpty())
        return userText;
    const QString summary = json.value(QStringLiteral("error_summary")).toString();
    if (!summary.isEmpty())
        return summary;
    if (!failureText.isEmpty())
        return failureText;
    return QString::fromUtf8(body.left(300)).trimmed();
}

QNetworkAccessManager* dropboxNetwork() {
    static QPointer<QNetworkAccessManager> network;
    if (!network)
        network = new QNetworkAccessManager(QCoreApplication::instance());
    return network;
}

DropboxCall::DropboxCall(Request request, Done done, Sent sent, QObject* parent)
    : QObject(parent), m_request(std::move(request)), m_done(std::move(done)), m_sent(std::move(sent)) {}

DropboxCall::~DropboxCall() { cancel(); }

void DropboxCall::start() {
    ++m_attempt;
    withToken(false);
}

void DropboxCall::withToken(bool forceRefresh) {
    QPointer<DropboxCall> self(this);
    DropboxAuth::instance().withAccessToken(
        [self](const std::optional<QString>& token, const QString& error) {
            if (!self || self->m_cancelled)
                return;
            if (!token) {
                DropboxResult result;
                result.status = 401;
                result.failureText = error;
                self->finish(result);
                return;
            }
            self->send(*token);
        },
        forceRefresh);
}

void DropboxCall::send(const QString& token) {
    const bool content = m_request.style == Style::Content;
    const QString base = configValue(content ? QStringLiteral("dropbox/contentUrl") : QStringLiteral("dropbox/apiUrl"));
    QNetworkRequest request(QUrl(base + QStringLiteral("/2/") + m_request.route));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setTransferTimeout(60000);
    if (content) {
        StreamingPost::Headers headers{{"Authorization", "Bearer " + token.toUtf8()},
                                       {"Content-Type", "application/octet-stream"},
                                       {"Dropbox-API-Arg", m_request.arg}};
        m_stream = new StreamingPost(request.url(), std::move(headers), m_request.filePath, m_request.offset,
                                     m_request.length, this);
        if (m_sent)
            connect(m_stream, &StreamingPost::uploadProgress, this, [this](qint64 sent, qint64) { m_sent(sent); });
        connect(m_stream, &StreamingPost::finished, this, &DropboxCall::handleStream);
        m_stream->start();
        return;
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    m_reply = dropboxNetwork()->post(request, m_request.rpcBody);
    connect(m_reply, &QNetworkReply::finished, this, &DropboxCall::handleReply);
}

void DropboxCall::handleReply() {
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
    answer.retryAfter = reply->rawHeader("Retry-After");
    answer.error = reply->error();
    answer.errorString = reply->errorString();
    handleAnswer(answer);
}

void DropboxCall::handleStream() {
    StreamingPost* stream = m_stream;
    m_stream = nullptr;
    if (!stream)
        return;
    stream->deleteLater();
    if (m_cancelled)
        return;
    handleAnswer({stream->status(), stream->body(), stream->header("retry-after"), stream->error(), stream->errorString()});
}

void DropboxCall::handleAnswer(const Answer& answer) {
    DropboxResult result;
    result.status = answer.status;
    result.body = answer.body;
    result.json = QJsonDocument::fromJson(result.body).object();
    const QNetworkReply::NetworkError error = answer.error;
    // Errors below 200 are the connection's own (refused, closed, timed out, proxy); an answer
    // cut off after its status line counts as no answer.
    if (error != QNetworkReply::NoError && int(error) < 200)
        result.status = 0;

    if (result.status == 0) {
        // A connection that dropped mid-request may be tried again; an unreachable host may not.
        const bool transient = error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::TimeoutError ||
                               error == QNetworkReply::UnknownNetworkError;
        if (transient && retryLater(-1, answer.errorString))
            return;
        logLine(QStringLiteral("Dropbox %1 failed: %2").arg(m_request.route, answer.errorString));
        result.failureText = error == QNetworkReply::ContentAccessDenied ? answer.errorString : networkErrorText(error);
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
        const int retryAfter = answer.retryAfter.trimmed().toInt(&ok);
        if (retryLater(ok ? retryAfter : -1, QStringLiteral("HTTP %1").arg(result.status)))
            return;
        result.failureText = result.status == 429
                                 ? QStringLiteral("Dropbox is receiving too many requests. Try again later.")
                                 : QStringLiteral("Dropbox is not answering right now. Try again later.");
    }
    if (result.status == 401 && result.failureText.isEmpty())
        result.failureText = QStringLiteral("Sign in to Dropbox again.");
    finish(result);
}

bool DropboxCall::retryLater(int retryAfterSeconds, const QString& why) {
    if (m_attempt >= maxAttempts)
        return false;
    const int base = qMax(1, Config::instance().intValue(QStringLiteral("dropbox/retryBackoffMilliseconds")));
    const int backoff = base << qMin(m_attempt - 1, 5);
    const int delay = qBound(0, retryAfterSeconds >= 0 ? retryAfterSeconds * 1000 : backoff, maxDelaySeconds * 1000);
    logLine(QStringLiteral("Dropbox %1: %2, retrying in %3 ms").arg(m_request.route, why).arg(delay));
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

void DropboxCall::finish(const DropboxResult& result) {
    if (m_cancelled)
        return;
    Done done = std::move(m_done);
    m_done = nullptr;
    // A call answers once; afterwards it is gone and a later cancel finds nothing to stop.
    deleteLater();
    if (done)
        done(result);
}

void DropboxCall::cancel() {
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
