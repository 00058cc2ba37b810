#include "storage/zoho/UploadHelper.h"

#include "core/Config.h"
#include "core/RandomString.h"
#include "records/ZUser.h"
#include "storage/AuthorizedCall.h"
#include "storage/zoho/ZohoAuthentication.h"

UploadHelper::UploadHelper(QString localPath, Progress progress, QObject* parent)
    : FileUpload(QStringLiteral("WorkDrive"), std::move(localPath), std::move(progress), parent) {}

void UploadHelper::uploadFileData(const QUrl& url, const QString& parent, const QString& baseName) {
    if (!begin([this] { end(QStringLiteral("The file could not be read.")); }))
        return;
    m_url = url;
    m_parent = parent;
    m_baseName = baseName;
    if (uploadID.isEmpty())
        uploadID = randomString(21);
    stream();
}

void UploadHelper::stream() {
    const QByteArray id = uploadID.toUtf8();
    CallRequest request;
    request.url = m_url;
    request.headers = {{"x-service", "WD"},
                       {"invoker", "upload"},
                       {"oauth-scope", "files"},
                       // Header values must be ASCII: the name goes percent-encoded.
                       {"x-filename", QUrl::toPercentEncoding(m_baseName + QLatin1Char('.') + extn)},
                       {"upload-id", id},
                       {"x-upload-id", id},
                       {"x-streammode", "1"},
                       {"x-parent_id", m_parent.toUtf8()},
                       {"x-override-name-exist", "false"},
                       {"x-uploadTo", "Myfolders"},
                       {"Content-Type", "application/octet-stream"}};
    request.filePath = m_localPath;
    request.length = m_size;
    request.label = QStringLiteral("WorkDrive upload");
    request.retry = false;
    send(
        ZohoAuthentication::session(), std::move(request),
        [this](const CallResult& result) {
            if (cut(result)) {
                if (!resumeAfterCut([this] { askAfterCut(); }))
                    end(cutsText());
                return;
            }
            // Only a failed transfer or a refused sign-in is an error here; the answer itself is
            // left to the upload result that follows.
            if (result.status == 0 || result.status == 401) {
                end(result.failureText.isEmpty() ? result.description() : result.failureText);
                return;
            }
            report(m_size);
            end(QString());
        },
        [this](qint64 sent) { report(sent); });
}

void UploadHelper::askAfterCut() {
    CallRequest request;
    request.method = "GET";
    request.url =
        QUrl(configValue(ConfigKey::ZohoApiUrl) +
             QStringLiteral("/uploadprogress?uploadid=upload_%1_%2").arg(currentUser().id, uploadID));
    request.label = QStringLiteral("WorkDrive upload progress");
    send(ZohoAuthentication::session(), std::move(request), [this](const CallResult& result) {
        const QString status = result.json.value(QStringLiteral("AUDIT_INFO"))
                                   .toObject()
                                   .value(QStringLiteral("statusCode"))
                                   .toString();
        if (result.ok() && status == QLatin1String("D201")) {
            report(m_size);
            end(QString());
            return;
        }
        uploadID = randomString(21);
        stream();
    });
}

void UploadHelper::end(const QString& error) {
    if (!claimEnd())
        return;
    if (completionHandler)
        completionHandler(error);
}
