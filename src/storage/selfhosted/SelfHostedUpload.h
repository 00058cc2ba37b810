#pragma once

#include "storage/FileUpload.h"
#include "storage/selfhosted/SelfHostedCredentials.h"

#include <QByteArray>
#include <QPointer>
#include <QUrl>

#include <functional>

class StreamingPost;

// One file to a self-hosted vantry-server: PUT /storage/files?path=… with the bytes streamed from
// disk. The server keeps nothing of a PUT that did not arrive whole, and has no way yet to go on
// from where one stopped; so a dropped connection is resumed by sending the file again from the
// start. A resumable protocol takes the place of transfer(): ask the server what it holds, then
// send from there.
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

    SelfHostedUpload(SelfHostedCredentials server, QString localPath, QString serverPath, Done done,
                     Progress progress, QObject* parent = nullptr);

    void start();

private:
    void transfer();
    void stopTransfer() override;
    void end(const Outcome& outcome);

    SelfHostedCredentials m_server;
    QUrl m_url;
    Done m_done;
    QPointer<StreamingPost> m_post;
};
