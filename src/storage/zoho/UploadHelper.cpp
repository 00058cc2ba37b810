#include "storage/zoho/UploadHelper.h"

#include "core/RandomString.h"
#include "storage/AuthorizedCall.h"
#include "storage/zoho/ZohoAuthentication.h"

UploadHelper::UploadHelper(QString localPath, Progress progress, QObject* parent)
    : FileUpload(std::move(localPath), std::move(progress), parent) {}

void UploadHelper::uploadFileData(const QUrl& url, const QString& parent, const QString& baseName) {
    if (!begin([this] { end(QStringLiteral("The file could not be read.")); }))
        return;
    if (uploadID.isEmpty())
        uploadID = randomString(21);
    const QByteArray id = uploadID.toUtf8();
    CallRequest request;
    request.url = url;
    request.headers = {{"x-service", "WD"},
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
    request.filePath = m_localPath;
    request.length = m_size;
    request.label = QStringLiteral("WorkDrive upload");
    request.retry = false;
    m_call = new AuthorizedCall(
        ZohoAuthentication::session(), std::move(request),
        [this](const CallResult& result) {
            // Only a failed transfer or a refused sign-in is an error here; the answer itself is
            // left to the upload result that follows.
            if (result.status == 0 || result.status == 401) {
                end(result.failureText.isEmpty() ? result.description() : result.failureText);
                return;
            }
            report(m_size);
            end(QString());
        },
        [this](qint64 sent) { report(sent); }, this);
    m_call->start();
}

void UploadHelper::end(const QString& error) {
    if (!claimEnd())
        return;
    if (completionHandler)
        completionHandler(error);
}
