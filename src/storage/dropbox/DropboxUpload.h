#pragma once

#include "storage/FileUpload.h"

#include <QString>

#include <functional>

struct CallResult;

// One file to Dropbox, streamed from disk: a single upload request up to the single-request
// limit, above it an upload session fed in chunks and committed with finish_batch_v2. A chunk
// goes at the offset the session holds; when the server names another (a chunk that arrived
// although its answer was lost), sending resumes at the server's offset.
class DropboxUpload : public FileUpload {
    Q_OBJECT
public:
    struct Outcome {
        enum Kind { Success, LookupFailed, FinishError, Failed } kind = Failed;
        QString pathDisplay; // Success
        QString detail;      // for the log; for Failed a short readable text
    };
    using Done = std::function<void(const Outcome&)>;

    DropboxUpload(QString localPath, QString remotePath, Done done, Progress progress,
                  QObject* parent = nullptr);

    void start();

    static qint64 singleRequestLimit();
    static qint64 chunkSize();

private:
    void sendSingle();
    void sendChunk();
    void finishBatch();
    void onChunkAnswer(const CallResult& result, qint64 length, bool closing);
    void end(const Outcome& outcome);
    void failed(const CallResult& result);

    QString m_remotePath;
    Done m_done;
    qint64 m_offset = 0;
    QString m_sessionId;
    int m_offsetCorrections = 0;
};
