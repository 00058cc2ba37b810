#pragma once

#include "storage/FileUpload.h"

#include <QString>
#include <QUrl>

#include <functional>

// One WorkDrive stream-mode upload. The request on the wire is the one WorkDrive's upload service
// expects (ten headers, the raw bytes as body); the bytes stream from the file instead of being
// read into memory first. It is never repeated by itself: the upload service keeps what a
// dropped stream delivered, and a second stream under the same upload-id would not add to it.
class UploadHelper : public FileUpload {
    Q_OBJECT
public:
    UploadHelper(QString localPath, Progress progress, QObject* parent = nullptr);

    // Called once when the upload has ended: error is empty, or a short readable text.
    std::function<void(const QString& error)> completionHandler;
    QString extn;
    QString uploadID;

    void uploadFileData(const QUrl& url, const QString& parent, const QString& baseName);

private:
    void end(const QString& error);
};
