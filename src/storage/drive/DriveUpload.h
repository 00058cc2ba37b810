#pragma once

#include "storage/FileUpload.h"

#include <QElapsedTimer>
#include <QString>
#include <QUrl>

#include <functional>

struct CallResult;

// One file to Drive as a resumable upload streamed from disk in pieces, one after another: the
// first as configured, the rest as long as the link it found carries in about a minute (in whole
// 256 KiB units), so that the round trip between two pieces costs little. After a dropped
// connection or a server error the upload asks the session how much it holds (its Range) and goes
// on from there; an expired session is started again once.
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

    static constexpr qint64 unit = 256 * 1024;
    // The largest piece, as configured, in whole units.
    static qint64 largestPiece();
    // The first piece, which times the link.
    static qint64 firstPiece() { return qMin(qint64(8) << 20, largestPiece()); }
    // Server errors (429, 5xx) answered by a status query and a retry, besides the resumptions.
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
    qint64 m_piece = 0;
    bool m_planned = false;
    QElapsedTimer m_clock; // the first piece's
    int m_recoveries = 0;
    bool m_restarted = false;
};
