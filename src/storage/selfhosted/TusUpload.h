#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkReply;
class QTimer;
class StreamingPost;

// One local file sent to a vantry-server's resumable uploads (tus 1.0.0, POST /storage/tus):
// the upload is created with the file's length (its address kept under the endpoint, whatever
// host the server names), and the rest of the file goes up in one PATCH
// streamed from disk. After a cut or a failed answer (network error, 5xx, 409, 423) it waits,
// asks HEAD where the server stands, and goes on from there; it gives up after `tries` failures
// in a row that moved the upload no further, waiting `backoff`, then twice that, … between them.
// Ends exactly once, through done, unless cancelled.
class TusUpload : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QUrl endpoint; // ".../storage/tus"
        QString token; // the storage token (secret)
        int tries = 3;
        std::chrono::milliseconds backoff{1000};
    };
    using Progress = std::function<void(qint64 sent, qint64 total)>;
    using Completion = std::function<void(bool ok, const QString& error)>;

    explicit TusUpload(Settings settings, QObject* parent = nullptr);
    ~TusUpload() override;

    // Sends localPath to the storage path remoteName ("Vantry/job/App.ipa"). With uploadUrl (an
    // earlier uploadUrl()), goes on with that upload instead of creating one.
    void start(const QString& localPath, const QString& remoteName, Progress progress, Completion done,
               const QUrl& uploadUrl = {});
    // Stops; nothing is reported after it. The server keeps the unfinished upload until it expires.
    void cancel();
    // The upload's address once created: keep it to go on after a restart.
    QUrl uploadUrl() const { return m_url; }

    // The answer behind the last failure, for callers that weigh it themselves (tries = 1).
    struct Answer {
        int status = 0; // 0 when none came
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray body;
    };
    const Answer& lastFailure() const { return m_failure; }

private:
    void create();
    void askOffset();
    void send(qint64 offset);
    // A failure: another try after the back-off, or the end.
    void retry(const QString& why, bool fatal = false);
    // retry() for a failed answer.
    void failed(Answer answer, const QString& networkText);
    void finish(bool ok, const QString& error);
    QNetworkRequest request(const QUrl& url) const;

    Settings m_settings;
    QNetworkAccessManager m_network;
    QString m_localPath;
    QString m_remoteName;
    qint64 m_size = 0;
    qint64 m_offset = 0;    // what the server holds, as last told
    qint64 m_failedAt = -1; // the offset of the last failure
    qint64 m_reported = -1;
    int m_failures = 0; // in a row, without progress
    QUrl m_url;
    Answer m_failure;
    Progress m_progress;
    Completion m_done;
    QPointer<QNetworkReply> m_reply;
    QPointer<StreamingPost> m_patch;
    QTimer* m_wait = nullptr;
    bool m_ended = true;
};
