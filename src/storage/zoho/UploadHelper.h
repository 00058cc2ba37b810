#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class StreamingPost;

// One WorkDrive stream-mode upload. The request on the wire is the one WorkDrive's upload service
// expects (ten headers, the raw bytes as body); the bytes stream from the file instead of being
// read into memory first.
class UploadHelper : public QObject {
    Q_OBJECT
public:
    explicit UploadHelper(QObject* parent = nullptr);

    std::function<void(QObject* task)> onTaskCreation;
    // Called once when the upload has ended: error is empty, or a description of the failure.
    std::function<void(const QString& error)> completionHandler;
    std::function<void(double fraction)> didProgress;
    QString extn;
    QString uploadID;
    QString auth; // the full Authorization value used for the upload

    void uploadFileData(const QUrl& url, const QString& parent, const QString& baseName,
                        const QString& filePath);

private:
    QPointer<StreamingPost> m_task;
};
