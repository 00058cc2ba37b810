#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class AuthorizedCall;
class OAuthSession;
class QTimer;
struct CallRequest;
struct CallResult;

// What every provider's upload of one local file shares: the file and its size, the requests in
// flight, progress that never runs backwards (a piece sent again repeats bytes already counted), a
// single ending, whether by outcome or by cancel, and the resumption of a transfer whose connection
// dropped: after a back-off, from what the provider acknowledged, within a few tries per upload.
class FileUpload : public QObject {
    Q_OBJECT
public:
    using Progress = std::function<void(double)>;
    using Notice = std::function<void(const QString&)>;

    // Stops the requests in flight and a pending resumption; nothing is reported after it.
    void cancel();

    // Told, in one sentence, that the transfer is being resumed.
    Notice notice;

    // Tries of one transfer: the first, then resumptions after dropped connections.
    static constexpr int maxTries = 3;

protected:
    // provider names the provider in texts ("Dropbox").
    FileUpload(QString provider, QString localPath, Progress progress, QObject* parent);

    // Takes the file's size and reports 0. A file that cannot be read calls unreadable from the
    // event loop (the caller sets onFailure only after starting the upload) and returns false;
    // so does a cancel from that first report.
    bool begin(const std::function<void()>& unreadable);
    void report(qint64 bytes);
    // True for the first ending only; it stops whatever is still in flight.
    bool claimEnd();
    // The first ending only: hands outcome to done, which is taken first (it may delete this upload).
    template <class Outcome> void endWith(std::function<void(const Outcome&)>& done, const Outcome& outcome) {
        if (!claimEnd())
            return;
        const auto take = std::move(done);
        if (take)
            take(outcome);
    }
    bool ended() const { return m_ended; }

    // Starts one request of this upload; a cancel or the ending stops it.
    void send(OAuthSession& auth, CallRequest request, std::function<void(const CallResult&)> done,
              std::function<void(qint64 bytesSent)> sent = {});

    // Whether a request failed because its connection dropped, which resuming may overcome. Once
    // resuming, a server out of reach counts too: a network coming back takes a moment.
    bool cut(const CallResult& result) const;
    // After a cut: when a try is left, says so (notice), runs resume after a back-off and returns
    // true; cuts met during the back-off join it. False when the tries are used up: the caller
    // ends with cutsText().
    bool resumeAfterCut(std::function<void()> resume);
    bool resuming() const;
    QString cutsText() const;

    // Stops a transfer that does not go through send() (cancel, the ending).
    virtual void stopTransfer() {}

    QString m_provider;
    QString m_localPath;
    qint64 m_size = 0;

private:
    Progress m_progress;
    QList<QPointer<AuthorizedCall>> m_calls;
    QTimer* m_backoff = nullptr;
    std::function<void()> m_resume;
    double m_reported = -1;
    int m_tries = 1;
    bool m_ended = false;
};
