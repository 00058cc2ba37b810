#include "storage/selfhosted/SelfHostedUpload.h"

#include "storage/AuthorizedCall.h"
#include "storage/NetworkErrorText.h"
#include "storage/StreamingPost.h"

SelfHostedUpload::SelfHostedUpload(SelfHostedCredentials server, QString localPath, QString serverPath,
                                   Done done, Progress progress, QObject* parent)
    : FileUpload(QStringLiteral("the self-hosted Vantry server"), std::move(localPath), std::move(progress),
                 parent),
      m_server(std::move(server)), m_done(std::move(done)) {
    m_url = QUrl(m_server.url + QStringLiteral("storage/files"));
    m_url.setQuery(QStringLiteral("path=") + QString::fromLatin1(QUrl::toPercentEncoding(serverPath)),
                   QUrl::StrictMode);
}

void SelfHostedUpload::start() {
    if (begin([this] { end({0, {}, QStringLiteral("The file could not be read.")}); }))
        transfer();
}

void SelfHostedUpload::transfer() {
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
        if (cut(result)) {
            if (!resumeAfterCut([this] { transfer(); }))
                end({0, {}, cutsText()});
            return;
        }
        if (result.status == 0) {
            end({0,
                 {},
                 post->error() == QNetworkReply::ContentAccessDenied ? post->errorString()
                                                                     : networkErrorText(post->error())});
            return;
        }
        if (result.ok())
            report(m_size);
        end({result.status, post->body(), {}});
    });
    post->start();
}

void SelfHostedUpload::stopTransfer() {
    if (StreamingPost* post = m_post) {
        m_post = nullptr;
        post->abort();
        post->deleteLater();
    }
}

void SelfHostedUpload::end(const Outcome& outcome) {
    if (!claimEnd())
        return;
    Done done = std::move(m_done);
    if (done)
        done(outcome);
}
