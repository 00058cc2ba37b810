#pragma once

#include "storage/FileUpload.h"

#include <QString>
#include <QUrl>

#include <functional>

// One WorkDrive stream-mode upload. The request on the wire is the one WorkDrive's upload service
// expects (ten headers, the raw bytes as body); the bytes stream from the file instead of being
// read into memory first. WorkDrive's stream upload cannot be continued: the upload service keeps
// what a dropped stream delivered, and a second stream under the same upload-id would not add to
// it. So after a dropped connection the upload asks the service whether the cut stream arrived
// whole all the same (its answer may be what was lost), and otherwise sends the file again from
// the start under a new upload-id.
class UploadHelper : public FileUpload {
    Q_OBJECT
public:
    UploadHelper(QString localPath, Progress progress, QObject* parent = nullptr);

    // Called once when the upload has ended: error is empty, or a short readable text.
    std::function<void(const QString& error)> completionHandler;
    QString extn;
    // The upload-id of the stream that delivered the file, once it has ended.
    QString uploadID;

    void uploadFileData(const QUrl& url, const QString& parent, const QString& baseName);

private:
    void stream();
    void askAfterCut();
    void end(const QString& error);

    QUrl m_url;
    QString m_parent;
    QString m_baseName;
};
