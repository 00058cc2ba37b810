#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QNetworkReply;
class StreamingPost;

// One local file sent to a vantry-server's resumable uploads (tus 1.0.0, POST /storage/tus):
// the upload is created with the file's length (its address kept under the endpoint, whatever
// host the server names), and the rest of the file goes up in one PATCH
// streamed from disk. Started again with its uploadUrl() after a cut or a failed answer, it asks
// HEAD where the server stands and goes on from there (the caller decides whether and when).
// Ends exactly once, through done, unless cancelled.
class TusUpload : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QUrl endpoint; // ".../storage/tus"
        QString token; // the storage token (secret)
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

    // The answer behind the last failure, for the caller to weigh.
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
    void failed(Answer answer, const QString& networkText);
    void finish(bool ok, const QString& error);
    QNetworkRequest request(const QUrl& url) const;

    Settings m_settings;
    QNetworkAccessManager m_network;
    QString m_localPath;
    QString m_remoteName;
    qint64 m_size = 0;
    qint64 m_reported = -1;
    QUrl m_url;
    Answer m_failure;
    Progress m_progress;
    Completion m_done;
    QPointer<QNetworkReply> m_reply;
    QPointer<StreamingPost> m_patch;
    bool m_ended = true;
};
