#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class AuthorizedCall;
struct CallResult;

// One file to Drive as a resumable upload streamed from disk in chunks. After a failed chunk the
// upload asks the session how much it holds and continues from there; an expired session is
// started again once.
class DriveUpload : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        enum Kind { Success, Refused, Failed } kind = Failed;
        QString fileId; // Success
        QString detail; // Refused: the provider's message; Failed: a short readable text
    };
    using Done = std::function<void(const Outcome&)>;
    using Progress = std::function<void(double)>;

    DriveUpload(QString localPath, QString name, QString parentId, Done done, Progress progress,
                QObject* owner = nullptr);

    void start();
    void cancel();

    static qint64 chunkSize();
    static constexpr int maxRecoveries = 5;

private:
    void startSession();
    void sendChunk();
    void askStatus();
    void onAnswer(const CallResult& result, bool statusQuery);
    void recover(const CallResult& result);
    void report(qint64 bytes);
    void end(const Outcome& outcome);

    QString m_localPath;
    QString m_name;
    QString m_parent;
    Done m_done;
    Progress m_progress;
    QPointer<AuthorizedCall> m_call;
    QUrl m_session;
    qint64 m_size = 0;
    qint64 m_offset = 0;
    int m_recoveries = 0;
    bool m_restarted = false;
    double m_reported = -1;
    bool m_finished = false;
};
