#include "storage/FileUpload.h"

#include "core/Config.h"
#include "core/Log.h"
#include "storage/AuthorizedCall.h"

#include <QFileInfo>
#include <QTimer>

#include <cmath>

FileUpload::FileUpload(QString provider, QString localPath, Progress progress, QObject* parent)
    : QObject(parent), m_provider(std::move(provider)), m_localPath(std::move(localPath)),
      m_progress(std::move(progress)) {}

bool FileUpload::begin(const std::function<void()>& unreadable) {
    const QFileInfo info(m_localPath);
    if (!info.isFile() || !info.isReadable()) {
        QMetaObject::invokeMethod(this, unreadable, Qt::QueuedConnection);
        return false;
    }
    m_size = info.size();
    report(0);
    return !m_ended; // a cancel from the first progress report
}

void FileUpload::report(qint64 bytes) {
    const double fraction = m_size > 0 ? qMin(1.0, double(bytes) / double(m_size)) : 1.0;
    if (fraction <= m_reported || !m_progress)
        return;
    m_reported = fraction;
    m_progress(fraction);
}

bool FileUpload::claimEnd() {
    if (m_ended)
        return false;
    cancel();
    return true;
}

void FileUpload::send(OAuthSession& auth, CallRequest request, std::function<void(const CallResult&)> done,
                      std::function<void(qint64)> sent) {
    m_calls.removeAll(nullptr);
    auto* call = new AuthorizedCall(auth, std::move(request), std::move(done), std::move(sent), this);
    m_calls.append(call);
    call->start();
}

bool FileUpload::cut(const CallResult& result) const {
    if (result.status != 0 || result.transport == QNetworkReply::NoError ||
        result.transport == QNetworkReply::ContentAccessDenied)
        return false;
    return m_tries > 1 || result.transport == QNetworkReply::RemoteHostClosedError ||
           result.transport == QNetworkReply::TimeoutError ||
           result.transport == QNetworkReply::UnknownNetworkError;
}

bool FileUpload::resuming() const {
    return m_backoff && m_backoff->isActive();
}

bool FileUpload::resumeAfterCut(std::function<void()> resume) {
    if (resuming())
        return true;
    if (m_tries >= maxTries)
        return false;
    ++m_tries;
    const int base = qMax(1, Config::instance().intValue(ConfigKey::StorageRetryBackoffMilliseconds));
    const int delay = base << (m_tries - 2);
    const QString text =
        QStringLiteral("The connection dropped at %1 %; resuming the upload in %2 s (try %3 of %4).")
            .arg(std::floor(qMax(0.0, m_reported) * 100))
            .arg(QString::number(delay / 1000.0, 'g', 2))
            .arg(m_tries)
            .arg(maxTries);
    logLine(m_provider + QStringLiteral(" upload: ") + text);
    if (!m_backoff) {
        m_backoff = new QTimer(this);
        m_backoff->setSingleShot(true);
        connect(m_backoff, &QTimer::timeout, this, [this] {
            if (!m_ended && m_resume)
                m_resume();
        });
    }
    m_resume = std::move(resume);
    m_backoff->start(delay);
    if (notice)
        notice(text);
    return true;
}

QString FileUpload::cutsText() const {
    return QStringLiteral("The connection to %1 dropped %2 times during the upload; check the network and "
                          "try again.")
        .arg(m_provider)
        .arg(maxTries);
}

void FileUpload::cancel() {
    m_ended = true;
    if (m_backoff)
        m_backoff->stop();
    stopTransfer();
    const QList<QPointer<AuthorizedCall>> calls = std::exchange(m_calls, {});
    for (AuthorizedCall* call : calls) {
        if (call)
            call->cancel();
    }
}
