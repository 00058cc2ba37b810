#include "storage/selfhosted/SelfHostedUpload.h"

#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/NetworkErrorText.h"
#include "storage/StreamingPost.h"
#include "storage/selfhosted/TusUpload.h"

SelfHostedUpload::SelfHostedUpload(SelfHostedCredentials server, QString localPath, QString serverPath,
                                   std::shared_ptr<bool> resumable, Done done, Progress progress,
                                   QObject* parent)
    : FileUpload(QStringLiteral("the self-hosted Vantry server"), std::move(localPath), std::move(progress),
                 parent),
      m_server(std::move(server)), m_serverPath(std::move(serverPath)), m_resumable(std::move(resumable)),
      m_done(std::move(done)) {
    m_url = QUrl(m_server.url + QStringLiteral("storage/files"));
    m_url.setQuery(QStringLiteral("path=") + QString::fromLatin1(QUrl::toPercentEncoding(m_serverPath)),
                   QUrl::StrictMode);
}

void SelfHostedUpload::start() {
    if (begin([this] { end({0, {}, QStringLiteral("The file could not be read.")}); }))
        transfer();
}

void SelfHostedUpload::transfer() {
    *m_resumable ? sendResumable() : sendWhole();
}

void SelfHostedUpload::sendResumable() {
    // One try per start: the cuts and their back-off are counted here, as for every provider.
    if (!m_tus)
        m_tus = new TusUpload({QUrl(m_server.url + QStringLiteral("storage/tus")), m_server.token}, this);
    TusUpload* tus = m_tus;
    // Resuming an upload already created asks the server its offset first (HEAD), then sends the rest.
    tus->start(
        m_localPath, m_serverPath, [this](qint64 sent, qint64) { report(sent); },
        [this, tus](bool ok, const QString& error) {
            if (ended())
                return;
            const TusUpload::Answer& answer = tus->lastFailure();
            if (!ok && tus->uploadUrl().isEmpty() &&
                (answer.status == 404 || answer.status == 405 || answer.status == 501)) {
                logLine(
                    QStringLiteral("The self-hosted server takes no resumable uploads (HTTP %1); using PUT")
                        .arg(answer.status));
                *m_resumable = false;
                return sendWhole();
            }
            CallResult result;
            result.status = ok ? 204 : answer.status;
            result.transport = ok ? QNetworkReply::NoError : answer.error;
            result.body = ok ? QByteArray() : answer.body;
            // 409 or 423: another request is still on the upload (a cut one the server is still
            // storing), so the offset just read is stale; asked again like a cut.
            settle(result, error, !ok && (answer.status == 409 || answer.status == 423));
        },
        tus->uploadUrl());
}

void SelfHostedUpload::sendWhole() {
    auto* post = new StreamingPost("PUT", m_url,
                                   {{"Authorization", "Bearer " + m_server.token.toUtf8()},
                                    {"Content-Type", "application/octet-stream"}},
                                   m_localPath, 0, m_size, this);
    m_post = post;
    connect(post, &StreamingPost::uploadProgress, this, [this](qint64 sent, qint64) { report(sent); });
    connect(post, &StreamingPost::finished, this, [this, post] {
        post->deleteLater();
        if (ended())
            return;
        CallResult result;
        result.status = post->status();
        result.transport = post->error();
        result.body = post->body();
        settle(result, post->errorString());
    });
    post->start();
}

void SelfHostedUpload::settle(const CallResult& result, const QString& networkText, bool busy) {
    if (busy || cut(result)) {
        if (!resumeAfterCut([this] { transfer(); }))
            end({0, {}, cutsText()});
        return;
    }
    if (result.status == 0) {
        // Without a network error the try ended on its own finding (an unreadable file, an
        // impossible offset), which networkText says.
        const bool ownFinding = result.transport == QNetworkReply::NoError ||
                                result.transport == QNetworkReply::ContentAccessDenied;
        end({0, {}, ownFinding ? networkText : networkErrorText(result.transport)});
        return;
    }
    if (result.ok())
        report(m_size);
    end({result.status, result.body, {}});
}

void SelfHostedUpload::stopTransfer() {
    if (StreamingPost* post = m_post) {
        m_post = nullptr;
        post->abort();
        post->deleteLater();
    }
    if (TusUpload* tus = m_tus)
        tus->cancel();
}

void SelfHostedUpload::end(const Outcome& outcome) {
    endWith(m_done, outcome);
}
