#include "storage/dropbox/DropBoxUpload.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/dropbox/DropBoxAuth.h"
#include "storage/dropbox/DropBoxWire.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QJsonObject cursor(const QString& sessionId, qint64 offset) {
    return {{QStringLiteral("session_id"), sessionId}, {QStringLiteral("offset"), double(offset)}};
}
} // namespace

qint64 DropBoxUpload::singleRequestLimit() {
    const qint64 configured = configValue(ConfigKey::DropboxSingleUploadLimitBytes).toLongLong();
    return configured > 0 ? configured : qint64(150) << 20;
}

qint64 DropBoxUpload::largestPiece() {
    const qint64 configured = configValue(ConfigKey::DropboxUploadChunkBytes).toLongLong();
    return qBound(sessionUnit, configured / sessionUnit * sessionUnit, qint64(148) << 20);
}

DropBoxUpload::DropBoxUpload(QString localPath, QString remotePath, Done done, Progress progress,
                             QObject* parent)
    : FileUpload(QStringLiteral("Dropbox"), std::move(localPath), std::move(progress), parent),
      m_remotePath(std::move(remotePath)), m_done(std::move(done)) {}

void DropBoxUpload::start() {
    if (!begin([this] { end({Outcome::Failed, {}, QStringLiteral("The file could not be read.")}); }))
        return;
    if (m_size <= singleRequestLimit())
        sendSingle();
    else
        startSession();
}

void DropBoxUpload::sendSingle() {
    CallRequest request = DropBoxWire::content(QStringLiteral("files/upload"),
                                               DropBoxWire::commitInfo(m_remotePath), m_localPath, 0, m_size);
    request.retryCut = false;
    send(
        DropBoxAuth::instance(), std::move(request),
        [this](const CallResult& result) {
            if (result.ok()) {
                report(m_size);
                end({Outcome::Success, result.json.value(QStringLiteral("path_display")).toString(), {}});
            } else if (result.routeError()) {
                end({Outcome::FinishError, {}, result.description()});
            } else if (cut(result)) {
                // Nothing of a single request stays with Dropbox: it goes again from the start.
                if (!resumeAfterCut([this] { sendSingle(); }))
                    end({Outcome::Failed, {}, cutsText()});
            } else {
                failed(result);
            }
        },
        [this](qint64 sent) { report(sent); });
}

void DropBoxUpload::startSession() {
    // A concurrent session starts empty; its data comes in the appends.
    const QJsonObject arg{{QStringLiteral("close"), false},
                          {QStringLiteral("session_type"), QStringLiteral("concurrent")}};
    send(DropBoxAuth::instance(),
         DropBoxWire::content(QStringLiteral("files/upload_session/start"), arg, {}, 0, 0),
         [this](const CallResult& result) {
             m_sessionId = result.json.value(QStringLiteral("session_id")).toString();
             if (result.ok() && !m_sessionId.isEmpty()) {
                 m_plan.pieceBytes = firstPiece();
                 dispatch();
             } else if (result.ok()) {
                 end({Outcome::Failed, {}, QStringLiteral("Dropbox did not open an upload session.")});
             } else if (result.routeError()) {
                 end({Outcome::FinishError, {}, result.description()});
             } else {
                 failed(result);
             }
         });
}

void DropBoxUpload::dispatch() {
    if (ended() || resuming())
        return;
    // The first piece goes alone: its times fit the rest to the link.
    const std::size_t window = m_planned ? std::size_t(m_plan.inFlight) : 1;
    while (m_sent.size() < window) {
        if (!m_again.empty()) {
            const Piece piece = m_again.back();
            m_again.pop_back();
            sendPiece(piece);
            continue;
        }
        const qint64 length = qMin(m_plan.pieceBytes, m_size - m_next);
        if (m_next + length >= m_size)
            break;
        sendPiece({m_next, length});
        m_next += length;
    }
    if (m_sent.empty() && m_again.empty() && m_next < m_size) {
        sendPiece({m_next, m_size - m_next});
        m_next = m_size;
    }
}

void DropBoxUpload::sendPiece(const Piece& piece) {
    const bool closing = piece.offset + piece.length == m_size;
    const bool measured = !m_planned && !closing;
    const QJsonObject arg{{QStringLiteral("cursor"), cursor(m_sessionId, piece.offset)},
                          {QStringLiteral("close"), closing}};
    CallRequest request = DropBoxWire::content(QStringLiteral("files/upload_session/append_v2"), arg,
                                               m_localPath, piece.offset, piece.length);
    request.retryCut = false;
    m_sent[piece.offset] = 0;
    if (measured) {
        m_clock.start();
        m_writtenMs = -1;
    }
    send(
        DropBoxAuth::instance(), std::move(request),
        [this, piece](const CallResult& result) { onPieceAnswer(piece, result); },
        [this, piece, measured](qint64 sent) {
            const auto it = m_sent.find(piece.offset);
            if (it == m_sent.end())
                return;
            it->second = sent;
            if (measured && sent == piece.length && m_writtenMs < 0)
                m_writtenMs = m_clock.elapsed();
            reportSent();
        });
}

void DropBoxUpload::onPieceAnswer(const Piece& piece, const CallResult& result) {
    m_sent.erase(piece.offset);
    const bool closing = piece.offset + piece.length == m_size;
    if (result.ok()) {
        m_acknowledged += piece.length;
        if (!m_planned && !closing) {
            const qint64 answered = m_clock.elapsed();
            m_plan = UploadPlan::concurrent(piece.length, m_writtenMs < 0 ? answered : m_writtenMs, answered,
                                            sessionUnit, largestPiece());
            m_planned = true;
            logLine(
                QStringLiteral("Dropbox upload: the first %1 MiB took %2 ms; pieces of %3 MiB, %4 at once")
                    .arg(piece.length >> 20)
                    .arg(answered)
                    .arg(m_plan.pieceBytes >> 20)
                    .arg(m_plan.inFlight));
        }
        reportSent();
        if (closing)
            finishBatch();
        else
            dispatch();
        return;
    }
    if (cut(result)) {
        m_again.push_back(piece);
        if (!resumeAfterCut([this] { dispatch(); }))
            end({Outcome::Failed, {}, cutsText()});
        return;
    }
    if (result.routeError()) {
        end({Outcome::FinishError, {}, result.description()});
        return;
    }
    failed(result);
}

void DropBoxUpload::reportSent() {
    qint64 bytes = m_acknowledged;
    for (const auto& [offset, sent] : m_sent)
        bytes += sent;
    report(bytes);
}

void DropBoxUpload::finishBatch() {
    const QJsonObject entry{{QStringLiteral("cursor"), cursor(m_sessionId, m_size)},
                            {QStringLiteral("commit"), DropBoxWire::commitInfo(m_remotePath)}};
    send(DropBoxAuth::instance(),
         DropBoxWire::rpc(QStringLiteral("files/upload_session/finish_batch_v2"),
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
             const QString reason =
                 failure.value(failureTag).toObject().value(QStringLiteral(".tag")).toString();
             const QString detail = reason.isEmpty() ? failureTag : failureTag + QLatin1Char('/') + reason;
             end({failureTag == QLatin1String("lookup_failed") ? Outcome::LookupFailed : Outcome::FinishError,
                  {},
                  detail});
         });
}

void DropBoxUpload::failed(const CallResult& result) {
    QString text = result.failureText;
    if (text.isEmpty())
        text = QStringLiteral("Dropbox refused the upload (HTTP %1).").arg(result.status);
    end({Outcome::Failed, {}, text});
}

void DropBoxUpload::end(const Outcome& outcome) {
    endWith(m_done, outcome);
}
