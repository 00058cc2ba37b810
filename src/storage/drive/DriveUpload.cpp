#include "storage/drive/DriveUpload.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"
#include "storage/UploadPlan.h"
#include "storage/drive/GoogleAuth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {
const QByteArray uploadMime = "binary/octet-stream";

// "bytes=0-8388607" → 8388608; absent → 0 (nothing stored).
qint64 storedBytes(const QByteArray& range) {
    const qsizetype dash = range.indexOf('-');
    return dash < 0 ? 0 : range.mid(dash + 1).trimmed().toLongLong() + 1;
}
} // namespace

qint64 DriveUpload::largestPiece() {
    // Drive wants every piece but the last in multiples of 256 KiB.
    return qMax(unit, configValue(ConfigKey::GoogleUploadChunkBytes).toLongLong() / unit * unit);
}

DriveUpload::DriveUpload(QString localPath, QString name, QString parentId, Done done, Progress progress,
                         QObject* owner)
    : FileUpload(QStringLiteral("Google Drive"), std::move(localPath), std::move(progress), owner),
      m_name(std::move(name)), m_parent(std::move(parentId)), m_done(std::move(done)) {}

void DriveUpload::start() {
    if (!begin([this] { end({Outcome::Failed, {}, QStringLiteral("The file could not be read.")}); }))
        return;
    m_piece = firstPiece();
    startSession();
}

void DriveUpload::startSession() {
    m_offset = 0;
    CallRequest request;
    request.url =
        QUrl(configValue(ConfigKey::GoogleUploadUrl) + QStringLiteral("/files?uploadType=resumable"));
    request.headers = {{"Content-Type", "application/json; charset=UTF-8"},
                       {"X-Upload-Content-Type", uploadMime},
                       {"X-Upload-Content-Length", QByteArray::number(m_size)}};
    request.body = QJsonDocument(QJsonObject{{QStringLiteral("name"), m_name},
                                             {QStringLiteral("parents"), QJsonArray{m_parent}}})
                       .toJson(QJsonDocument::Compact);
    request.label = QStringLiteral("Drive upload session");
    send(GoogleAuth::instance(), std::move(request), [this](const CallResult& result) {
        const QByteArray location = result.header("location");
        if (result.ok() && !location.isEmpty()) {
            m_session = QUrl::fromEncoded(location);
            sendChunk();
        } else if (result.status == 0 || result.status == 401) {
            end({Outcome::Failed, {}, result.description()});
        } else {
            end({Outcome::Refused, {}, result.description()});
        }
    });
}

void DriveUpload::sendChunk() {
    const qint64 length = qMin(m_piece, m_size - m_offset);
    CallRequest request;
    request.method = "PUT";
    request.url = m_session;
    request.label = QStringLiteral("Drive upload");
    request.retry = false; // a failed chunk is followed by a status query, not sent blindly again
    if (length > 0) {
        request.headers = {{"Content-Type", uploadMime},
                           {"Content-Range", "bytes " + QByteArray::number(m_offset) + '-' +
                                                 QByteArray::number(m_offset + length - 1) + '/' +
                                                 QByteArray::number(m_size)}};
        request.filePath = m_localPath;
        request.offset = m_offset;
        request.length = length;
    } else {
        request.headers = {{"Content-Range", "bytes */" + QByteArray::number(m_size)}};
    }
    const qint64 offset = m_offset;
    // The first piece that does not end the file times the link.
    const bool measured = !m_planned && offset + length < m_size;
    if (measured)
        m_clock.start();
    send(
        GoogleAuth::instance(), std::move(request),
        [this, length, measured](const CallResult& result) {
            if (measured && result.status == 308 && !m_planned) {
                m_planned = true;
                m_piece = UploadPlan::sequential(length, m_clock.elapsed(), unit, largestPiece());
                logLine(QStringLiteral("Drive upload: the first %1 MiB took %2 ms; pieces of %3 MiB")
                            .arg(length >> 20)
                            .arg(m_clock.elapsed())
                            .arg(m_piece >> 20));
            }
            onAnswer(result, false);
        },
        [this, offset](qint64 sent) { report(offset + sent); });
}

void DriveUpload::askStatus() {
    CallRequest request;
    request.method = "PUT";
    request.url = m_session;
    request.headers = {{"Content-Range", "bytes */" + QByteArray::number(m_size)}};
    request.label = QStringLiteral("Drive upload status");
    send(GoogleAuth::instance(), std::move(request),
         [this](const CallResult& result) { onAnswer(result, true); });
}

void DriveUpload::onAnswer(const CallResult& result, bool statusQuery) {
    if (result.status == 200 || result.status == 201) {
        report(m_size);
        end({Outcome::Success, result.json.value(QStringLiteral("id")).toString(), {}});
        return;
    }
    if (result.status == 308) {
        // The session holds this much; the server may have kept less than was sent.
        m_offset = qBound<qint64>(0, storedBytes(result.header("range")), m_size);
        report(m_offset);
        if (!statusQuery)
            m_recoveries = 0;
        sendChunk();
        return;
    }
    if (result.status == 404 && !m_restarted) {
        logLine(QStringLiteral("Drive upload session expired; starting again"));
        m_restarted = true;
        startSession();
        return;
    }
    recover(result);
}

void DriveUpload::recover(const CallResult& result) {
    if (cut(result)) {
        if (!resumeAfterCut([this] { askStatus(); }))
            end({Outcome::Failed, {}, cutsText()});
        return;
    }
    const bool transient = result.status == 429 || result.status >= 500;
    if (!transient) {
        end({result.status == 401 || result.status == 0 ? Outcome::Failed : Outcome::Refused,
             {},
             result.description()});
        return;
    }
    if (++m_recoveries > maxRecoveries) {
        end({Outcome::Failed,
             {},
             QStringLiteral("Google Drive is not answering right now. Try again later.")});
        return;
    }
    const int base = qMax(1, Config::instance().intValue(ConfigKey::StorageRetryBackoffMilliseconds));
    const int delay = qMin(base << (m_recoveries - 1), 60000);
    logLine(QStringLiteral("Drive upload interrupted (HTTP %1); asking the session in %2 ms")
                .arg(result.status)
                .arg(delay));
    QTimer::singleShot(delay, this, [this] {
        if (!ended())
            askStatus();
    });
}

void DriveUpload::end(const Outcome& outcome) {
    endWith(m_done, outcome);
}
