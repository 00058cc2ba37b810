#include "storage/dropbox/DropBoxWire.h"

#include "core/Config.h"

#include <QJsonDocument>
#include <QStringList>
#include <QUrl>

namespace DropBoxWire {

QByteArray headerSafeJson(const QJsonObject& arg) {
    const QString text = QString::fromUtf8(QJsonDocument(arg).toJson(QJsonDocument::Compact));
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x7F)
            out.append(char(unit));
        else
            out.append("\\u" + QByteArray::number(unit, 16).rightJustified(4, '0'));
    }
    return out;
}

QJsonObject commitInfo(const QString& remotePath) {
    return {{QStringLiteral("path"), remotePath},
            {QStringLiteral("mode"), QStringLiteral("overwrite")},
            {QStringLiteral("autorename"), true},
            {QStringLiteral("mute"), false},
            {QStringLiteral("strict_conflict"), false}};
}

QString directLink(const QString& sharedLink, const QString& shareHost, const QString& directHost) {
    QUrl url(sharedLink);
    QString authority = url.host();
    if (url.port() != -1)
        authority += QLatin1Char(':') + QString::number(url.port());
    if (!url.isValid() || authority.compare(shareHost, Qt::CaseInsensitive) != 0)
        return sharedLink;

    const QUrl direct(QLatin1String("//") + directHost);
    url.setHost(direct.host());
    url.setPort(direct.port());
    // Query items are kept as sent (still encoded); only "dl" goes, wherever it stands.
    QStringList kept;
    for (const QString& item : url.query(QUrl::FullyEncoded).split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        if (item != QLatin1String("dl") && !item.startsWith(QLatin1String("dl=")))
            kept.append(item);
    }
    if (kept.isEmpty())
        url.setQuery(QString());
    else
        url.setQuery(kept.join(QLatin1Char('&')), QUrl::StrictMode);
    return url.toString(QUrl::FullyEncoded);
}

QString localPath(const QString& path) {
    QString decoded = QUrl::fromPercentEncoding(path.toUtf8());
    return decoded.replace(QLatin1String("%20"), QLatin1String(" "));
}

CallRequest rpc(const QString& route, const QByteArray& json) {
    CallRequest request;
    request.url = QUrl(configValue(ConfigKey::DropboxApiUrl) + QStringLiteral("/2/") + route);
    request.headers = {{"Content-Type", "application/json"}};
    request.body = json;
    request.label = QStringLiteral("Dropbox ") + route;
    return request;
}

CallRequest content(const QString& route, const QJsonObject& arg, const QString& filePath, qint64 offset,
                    qint64 length) {
    CallRequest request;
    request.url = QUrl(configValue(ConfigKey::DropboxContentUrl) + QStringLiteral("/2/") + route);
    request.headers = {{"Content-Type", "application/octet-stream"},
                       {"Dropbox-API-Arg", headerSafeJson(arg)}};
    request.filePath = filePath;
    request.offset = offset;
    request.length = length;
    request.label = QStringLiteral("Dropbox ") + route;
    return request;
}

} // namespace DropBoxWire
