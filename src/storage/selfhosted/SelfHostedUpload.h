#pragma once

#include "storage/FileUpload.h"
#include "storage/selfhosted/SelfHostedCredentials.h"

#include <QByteArray>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class StreamingPost;
class TusUpload;
struct CallResult;

// One file to a self-hosted vantry-server, streamed from disk. Where the server takes resumable
// uploads (tus, POST /storage/tus) the file goes that way, and a dropped connection is resumed
// from the offset the server holds. A server that refuses them (404, 405, or 501 when its files
// live in a bucket) gets the file by PUT /storage/files?path=…, which keeps nothing of a body that
// did not arrive whole: there a dropped connection sends the file again from the start.
class SelfHostedUpload : public FileUpload {
    Q_OBJECT
public:
    struct Outcome {
        int status = 0;  // the server's answer; 0 when none came
        QByteArray body; // of an answer other than 2xx
        QString failure; // status 0: a short readable text
        bool stored() const { return status >= 200 && status < 300; }
    };
    using Done = std::function<void(const Outcome&)>;

    // resumable: whether the server takes tus uploads, shared by the uploads of one client so that
    // only the first asks; cleared here when the server refuses them.
    SelfHostedUpload(SelfHostedCredentials server, QString localPath, QString serverPath,
                     std::shared_ptr<bool> resumable, Done done, Progress progress,
                     QObject* parent = nullptr);

    void start();

private:
    void transfer();
    void sendResumable();
    void sendWhole();
    // The end of one try: a cut resumes it, anything else ends the upload.
    // busy: the upload was still held by another request on the server; resumed like a cut.
    void settle(const CallResult& result, const QString& networkText, bool busy = false);
    void stopTransfer() override;
    void end(const Outcome& outcome);

    SelfHostedCredentials m_server;
    QString m_serverPath;
    QUrl m_url;
    std::shared_ptr<bool> m_resumable;
    Done m_done;
    QPointer<StreamingPost> m_post;
    QPointer<TusUpload> m_tus;
};
