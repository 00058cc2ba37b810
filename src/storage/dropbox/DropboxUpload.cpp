#include "storage/dropbox/DropboxUpload.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/dropbox/DropboxAuth.h"
#include "storage/dropbox/DropboxWire.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QJsonObject cursor(const QString& sessionId, qint64 offset) {
    return {{QStringLiteral("session_id"), sessionId}, {QStringLiteral("offset"), double(offset)}};
}
} // namespace

qint64 DropboxUpload::singleRequestLimit() {
    const qint64 configured = configValue(ConfigKey::DropboxSingleUploadLimitBytes).toLongLong();
    return configured > 0 ? configured : qint64(150) << 20;
}

qint64 DropboxUpload::chunkSize() {
    const qint64 configured = configValue(ConfigKey::DropboxUploadChunkBytes).toLongLong();
    // Dropbox takes at most 150 MiB per request; 4 MiB multiples keep the session cheap for it.
    return configured > 0 ? qMin(configured, qint64(150) << 20) : qint64(8) << 20;
}

DropboxUpload::DropboxUpload(QString localPath, QString remotePath, Done done, Progress progress,
                             QObject* parent)
    : FileUpload(std::move(localPath), std::move(progress), parent), m_remotePath(std::move(remotePath)),
      m_done(std::move(done)) {}

void DropboxUpload::start() {
    if (!begin([this] { end({Outcome::Failed, {}, QStringLiteral("The file could not be read.")}); }))
        return;
    if (m_size <= singleRequestLimit())
        sendSingle();
    else
        sendChunk();
}

void DropboxUpload::sendSingle() {
    m_call = new AuthorizedCall(
        DropboxAuth::instance(),
        DropboxWire::content(QStringLiteral("files/upload"), DropboxWire::commitInfo(m_remotePath),
                             m_localPath, 0, m_size),
        [this](const CallResult& result) {
            if (result.ok()) {
                report(m_size);
                end({Outcome::Success, result.json.value(QStringLiteral("path_display")).toString(), {}});
            } else if (result.routeError()) {
                end({Outcome::FinishError, {}, result.description()});
            } else {
                failed(result);
            }
        },
        [this](qint64 sent) { report(sent); }, this);
    m_call->start();
}

void DropboxUpload::sendChunk() {
    const qint64 length = qMin(chunkSize(), m_size - m_offset);
    const bool closing = m_offset + length == m_size;
    const bool first = m_sessionId.isEmpty();
    QJsonObject arg{{QStringLiteral("close"), closing}};
    if (!first)
        arg.insert(QStringLiteral("cursor"), cursor(m_sessionId, m_offset));
    m_call = new AuthorizedCall(
        DropboxAuth::instance(),
        DropboxWire::content(first ? QStringLiteral("files/upload_session/start")
                                   : QStringLiteral("files/upload_session/append_v2"),
                             arg, m_localPath, m_offset, length),
        [this, length, closing](const CallResult& result) { onChunkAnswer(result, length, closing); },
        [this](qint64 sent) { report(m_offset + sent); }, this);
    m_call->start();
}

void DropboxUpload::onChunkAnswer(const CallResult& result, qint64 length, bool closing) {
    if (result.ok()) {
        if (m_sessionId.isEmpty())
            m_sessionId = result.json.value(QStringLiteral("session_id")).toString();
        if (m_sessionId.isEmpty()) {
            end({Outcome::Failed, {}, QStringLiteral("Dropbox did not open an upload session.")});
            return;
        }
        m_offset += length;
        report(m_offset);
        if (closing)
            finishBatch();
        else
            sendChunk();
        return;
    }
    const QJsonObject error = result.json.value(QStringLiteral("error")).toObject();
    if (result.routeError() && result.errorTag() == QLatin1String("incorrect_offset") &&
        ++m_offsetCorrections <= 3) {
        const qint64 correct = qint64(error.value(QStringLiteral("correct_offset")).toDouble(-1));
        if (correct >= 0 && correct <= m_size) {
            logLine(QStringLiteral("Dropbox upload session continues at offset %1 instead of %2")
                        .arg(correct)
                        .arg(m_offset));
            m_offset = correct;
            sendChunk();
            return;
        }
    }
    if (result.routeError()) {
        end({Outcome::FinishError, {}, result.description()});
        return;
    }
    failed(result);
}

void DropboxUpload::finishBatch() {
    const QJsonObject entry{{QStringLiteral("cursor"), cursor(m_sessionId, m_size)},
                            {QStringLiteral("commit"), DropboxWire::commitInfo(m_remotePath)}};
    m_call = new AuthorizedCall(
        DropboxAuth::instance(),
        DropboxWire::rpc(QStringLiteral("files/upload_session/finish_batch_v2"),
                         QJsonDocument(QJsonObject{{QStringLiteral("entries"), QJsonArray{entry}}})
                             .toJson(QJsonDocument::Compact)),
        [this](const CallResult& result) {
            if (!result.ok()) {
                failed(result);
                return;
            }
            const QJsonObject first =
                result.json.value(QStringLiteral("entries")).toArray().first().toObject();
            const QString tag = first.value(QStringLiteral(".tag")).toString();
            if (tag == QLatin1String("success")) {
                end({Outcome::Success, first.value(QStringLiteral("path_display")).toString(), {}});
                return;
            }
            const QJsonObject failure = first.value(QStringLiteral("failure")).toObject();
            const QString failureTag = failure.value(QStringLiteral(".tag")).toString();
            const QString detail =
                failureTag + QLatin1Char('/') +
                failure.value(failureTag).toObject().value(QStringLiteral(".tag")).toString();
            end({failureTag == QLatin1String("lookup_failed") ? Outcome::LookupFailed : Outcome::FinishError,
                 {},
                 detail});
        },
        {}, this);
    m_call->start();
}

void DropboxUpload::failed(const CallResult& result) {
    QString text = result.failureText;
    if (text.isEmpty())
        text = QStringLiteral("Dropbox refused the upload (HTTP %1).").arg(result.status);
    end({Outcome::Failed, {}, text});
}

void DropboxUpload::end(const Outcome& outcome) {
    if (!claimEnd())
        return;
    Done done = std::move(m_done);
    if (done)
        done(outcome);
}
