#include "storage/zoho/UploadHelper.h"

#include "core/RandomString.h"
#include "storage/NetworkErrorText.h"
#include "storage/StreamingPost.h"
#include "storage/zoho/ZohoAuthentication.h"

#include <QFileInfo>

UploadHelper::UploadHelper(QObject* parent) : QObject(parent) {}

void UploadHelper::uploadFileData(const QUrl& url, const QString& parent, const QString& baseName,
                                  const QString& filePath) {
    if (uploadID.isEmpty())
        uploadID = randomString(21);
    const QByteArray id = uploadID.toUtf8();
    StreamingPost::Headers headers{
        {"x-service", "WD"},
        {"invoker", "upload"},
        {"oauth-scope", "files"},
        // Header values must be ASCII: the name goes percent-encoded.
        {"x-filename", QUrl::toPercentEncoding(baseName + QLatin1Char('.') + extn)},
        {"upload-id", id},
        {"x-upload-id", id},
        {"x-streammode", "1"},
        {"x-parent_id", parent.toUtf8()},
        {"x-override-name-exist", "false"},
        {"x-uploadTo", "Myfolders"},
        {"Content-Type", "application/octet-stream"}};
    QPointer<UploadHelper> self(this);
    ZohoAuthentication::withFreshAccessToken([self, url, headers, filePath](const QString& token,
                                                                            const QString& failure) mutable {
        if (!self)
            return;
        if (!failure.isEmpty()) {
            if (self->completionHandler)
                self->completionHandler(failure);
            return;
        }
        self->auth = QStringLiteral("Zoho-oauthtoken ") + token;
        headers.prepend({"Authorization", self->auth.toUtf8()});
        self->m_task = new StreamingPost("POST", url, headers, filePath, 0, QFileInfo(filePath).size(), self);
        StreamingPost* task = self->m_task;
        connect(task, &StreamingPost::uploadProgress, self, [self](qint64 sent, qint64 total) {
            if (self->didProgress && total > 0)
                self->didProgress(double(float(sent) / float(total)));
        });
        connect(task, &StreamingPost::finished, self, [self, task] {
            task->deleteLater();
            // Only a failed transfer is an error here; the answer's status is left to the
            // upload result that follows.
            const QString error =
                task->error() == QNetworkReply::NoError
                    ? QString()
                    : (task->error() == QNetworkReply::ContentAccessDenied ? task->errorString()
                                                                           : networkErrorText(task->error()));
            if (self->completionHandler)
                self->completionHandler(error);
        });
        task->start();
        if (self->onTaskCreation)
            self->onTaskCreation(task);
    });
}
