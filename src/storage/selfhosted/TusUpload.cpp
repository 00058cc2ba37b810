#include "storage/selfhosted/TusUpload.h"

#include "storage/NetworkErrorText.h"
#include "storage/StreamingPost.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimer>

namespace {
QString refusal(int status, const QByteArray& body) {
    const QString text = QJsonDocument::fromJson(body).object().value(QStringLiteral("response")).toString();
    return text.isEmpty() ? QStringLiteral("The server answered HTTP %1.").arg(status) : text;
}
} // namespace

TusUpload::TusUpload(Settings settings, QObject* parent) : QObject(parent), m_settings(std::move(settings)) {}

TusUpload::~TusUpload() {
    cancel();
}

void TusUpload::start(const QString& localPath, const QString& remoteName, Progress progress, Completion done,
                      const QUrl& uploadUrl) {
    cancel();
    m_localPath = localPath;
    m_remoteName = remoteName;
    m_progress = std::move(progress);
    m_done = std::move(done);
    m_url = uploadUrl;
    m_failure = {}; // a try that ends without an answer must not show the last one's
    m_reported = -1;
    m_ended = false;
    const QFileInfo info(localPath);
    if (!info.isFile() || !info.isReadable()) {
        QTimer::singleShot(0, this, [this] { finish(false, QStringLiteral("The file could not be read.")); });
        return;
    }
    m_size = info.size();
    m_url.isEmpty() ? create() : askOffset();
}

void TusUpload::cancel() {
    m_ended = true;
    if (QNetworkReply* reply = m_reply) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (StreamingPost* patch = m_patch) {
        patch->disconnect(this);
        patch->abort();
        patch->deleteLater();
    }
}

QNetworkRequest TusUpload::request(const QUrl& url) const {
    QNetworkRequest r(url);
    r.setRawHeader("Tus-Resumable", "1.0.0");
    r.setRawHeader("Authorization", "Bearer " + m_settings.token.toUtf8());
    r.setTransferTimeout(30000);
    return r;
}

void TusUpload::create() {
    QNetworkRequest r = request(m_settings.endpoint);
    r.setRawHeader("Upload-Length", QByteArray::number(m_size));
    r.setRawHeader("Upload-Metadata", "filename " + m_remoteName.toUtf8().toBase64());
    m_reply = m_network.post(r, QByteArray());
    connect(m_reply, &QNetworkReply::finished, this, [this, reply = m_reply.data()] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray location = reply->rawHeader("Location");
        if (status != 201 || location.isEmpty())
            return failed({status, reply->error(), reply->readAll()}, networkErrorText(reply->error()));
        // The server names the upload under its public URL, which need not be the address this
        // client reaches it at (a LAN address, a relay): keep to the endpoint, where the token goes.
        m_url = m_settings.endpoint;
        m_url.setPath(m_url.path() + QLatin1Char('/') +
                      m_settings.endpoint.resolved(QUrl::fromEncoded(location)).fileName());
        m_size == 0 ? finish(true, {}) : send(0);
    });
}

void TusUpload::askOffset() {
    m_reply = m_network.head(request(m_url));
    connect(m_reply, &QNetworkReply::finished, this, [this, reply = m_reply.data()] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        bool ok = false;
        const qint64 offset = reply->rawHeader("Upload-Offset").toLongLong(&ok);
        if (status == 404 || status == 410) { // expired or removed: from the start
            m_url.clear();
            return create();
        }
        if (status != 200 && status != 204)
            return failed({status, reply->error(), reply->readAll()}, networkErrorText(reply->error()));
        if (!ok || offset < 0 || offset > m_size)
            return finish(false, QStringLiteral("The server reported an impossible offset."));
        offset == m_size ? finish(true, {}) : send(offset);
    });
}

void TusUpload::send(qint64 offset) {
    auto* patch = new StreamingPost("PATCH", m_url,
                                    {{"Authorization", "Bearer " + m_settings.token.toUtf8()},
                                     {"Tus-Resumable", "1.0.0"},
                                     {"Upload-Offset", QByteArray::number(offset)},
                                     {"Content-Type", "application/offset+octet-stream"}},
                                    m_localPath, offset, m_size - offset, this);
    m_patch = patch;
    connect(patch, &StreamingPost::uploadProgress, this, [this, offset](qint64 sent, qint64) {
        if (offset + sent > m_reported && m_progress)
            m_progress(m_reported = offset + sent, m_size);
    });
    connect(patch, &StreamingPost::finished, this, [this, patch] {
        patch->deleteLater();
        bool ok = false;
        const qint64 offset = patch->header("upload-offset").toLongLong(&ok);
        if (patch->status() != 204 || !ok)
            return failed({patch->status(), patch->error(), patch->body()}, patch->errorString());
        offset >= m_size ? finish(true, {}) : send(offset);
    });
    patch->start();
}

void TusUpload::failed(Answer answer, const QString& networkText) {
    m_failure = std::move(answer);
    const int status = m_failure.status;
    finish(false, status == 0 ? networkText : refusal(status, m_failure.body));
}

void TusUpload::finish(bool ok, const QString& error) {
    if (m_ended)
        return;
    m_ended = true;
    if (ok && m_progress && m_size > m_reported)
        m_progress(m_size, m_size);
    if (m_done)
        m_done(ok, error);
}
