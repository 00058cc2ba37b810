#pragma once

#include "storage/FileUpload.h"

#include <QString>
#include <QUrl>

#include <functional>

struct CallResult;

// One file to Drive as a resumable upload streamed from disk in chunks. After a failed chunk the
// upload asks the session how much it holds and continues from there; an expired session is
// started again once.
class DriveUpload : public FileUpload {
    Q_OBJECT
public:
    struct Outcome {
        enum Kind { Success, Refused, Failed } kind = Failed;
        QString fileId; // Success
        QString detail; // Refused: the provider's message; Failed: a short readable text
    };
    using Done = std::function<void(const Outcome&)>;

    DriveUpload(QString localPath, QString name, QString parentId, Done done, Progress progress,
                QObject* owner = nullptr);

    void start();

    static qint64 chunkSize();
    static constexpr int maxRecoveries = 5;

private:
    void startSession();
    void sendChunk();
    void askStatus();
    void onAnswer(const CallResult& result, bool statusQuery);
    void recover(const CallResult& result);
    void end(const Outcome& outcome);

    QString m_name;
    QString m_parent;
    Done m_done;
    QUrl m_session;
    qint64 m_offset = 0;
    int m_recoveries = 0;
    bool m_restarted = false;
};
