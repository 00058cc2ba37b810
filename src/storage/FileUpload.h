#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class AuthorizedCall;

// What every provider's upload of one local file shares: the file and its size, the request in
// flight, progress that never runs backwards (a piece sent again repeats bytes already counted),
// and a single ending, whether by outcome or by cancel.
class FileUpload : public QObject {
    Q_OBJECT
public:
    using Progress = std::function<void(double)>;

    // Stops the request in flight; nothing is reported after it.
    void cancel();

protected:
    FileUpload(QString localPath, Progress progress, QObject* parent);

    // Takes the file's size and reports 0. A file that cannot be read calls unreadable from the
    // event loop (the caller sets onFailure only after starting the upload) and returns false;
    // so does a cancel from that first report.
    bool begin(const std::function<void()>& unreadable);
    void report(qint64 bytes);
    // True for the first ending only.
    bool claimEnd();
    bool ended() const { return m_ended; }

    QString m_localPath;
    qint64 m_size = 0;
    QPointer<AuthorizedCall> m_call;

private:
    Progress m_progress;
    double m_reported = -1;
    bool m_ended = false;
};
