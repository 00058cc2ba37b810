#include "storage/FileUpload.h"

#include "storage/AuthorizedCall.h"

#include <QFileInfo>

FileUpload::FileUpload(QString localPath, Progress progress, QObject* parent)
    : QObject(parent), m_localPath(std::move(localPath)), m_progress(std::move(progress)) {}

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
    m_ended = true;
    return true;
}

void FileUpload::cancel() {
    m_ended = true;
    if (m_call)
        m_call->cancel();
}
