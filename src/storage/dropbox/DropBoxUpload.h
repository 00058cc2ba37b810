#pragma once

#include "storage/FileUpload.h"
#include "storage/UploadPlan.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <map>
#include <vector>

struct CallResult;

// One file to Dropbox, streamed from disk. Up to the single-request limit one upload request; above
// it a concurrent upload session: pieces of whole 4 MiB units appended at their offsets, several in
// flight at once, their size and number fitted to the link the first piece found. The piece that
// ends the file closes the session, so it goes last, alone, once every other piece is in; then
// finish_batch_v2 commits the file. A piece whose connection drops is sent again at its offset after
// a back-off; the pieces the session acknowledged stay where they are.
class DropBoxUpload : public FileUpload {
    Q_OBJECT
public:
    struct Outcome {
        enum Kind { Success, LookupFailed, FinishError, Failed } kind = Failed;
        QString pathDisplay; // Success
        QString detail;      // for the log; for Failed a short readable text
    };
    using Done = std::function<void(const Outcome&)>;

    DropBoxUpload(QString localPath, QString remotePath, Done done, Progress progress,
                  QObject* parent = nullptr);

    void start();

    static qint64 singleRequestLimit();
    // Concurrent sessions take pieces of whole units at offsets of whole units (but the last).
    static constexpr qint64 sessionUnit = qint64(4) << 20;
    // The largest piece, as configured, in whole units within the 150 MiB a request may carry.
    static qint64 largestPiece();
    // The first piece, which times the link.
    static qint64 firstPiece() { return qMin(qint64(8) << 20, largestPiece()); }

private:
    struct Piece {
        qint64 offset = 0;
        qint64 length = 0;
    };
    void sendSingle();
    void startSession();
    void dispatch();
    void sendPiece(const Piece& piece);
    void onPieceAnswer(const Piece& piece, const CallResult& result);
    void finishBatch();
    void reportSent();
    void end(const Outcome& outcome);
    void failed(const CallResult& result);

    QString m_remotePath;
    Done m_done;
    QString m_sessionId;
    UploadPlan::Concurrent m_plan;
    bool m_planned = false;
    qint64 m_next = 0;               // where the first piece never sent starts
    qint64 m_acknowledged = 0;       // bytes of the pieces the session holds
    std::map<qint64, qint64> m_sent; // pieces in flight: offset -> bytes handed over so far
    std::vector<Piece> m_again;      // pieces cut on the way, sent again first
    QElapsedTimer m_clock;           // the first piece's times
    qint64 m_writtenMs = -1;
};
