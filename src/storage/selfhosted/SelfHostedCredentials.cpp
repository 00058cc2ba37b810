#include "storage/selfhosted/SelfHostedCredentials.h"

#include "core/Config.h"
#include "storage/KeychainHelper.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>

namespace {

bool onThisMachine(const QString& url) {
    const QString host = QUrl(url).host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString defaultServerTokenPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vantry/server/storage-token");
}

std::optional<SelfHostedCredentials> selfHostedCredentials() {
    const Config& config = Config::instance();
    SelfHostedCredentials found;
    if (const std::optional<QString> stored = KeychainHelper().read(selfHostedService)) {
        const QJsonObject object = QJsonDocument::fromJson(stored->toUtf8()).object();
        found.url = object.value(QStringLiteral("url")).toString();
        found.token = object.value(QStringLiteral("token")).toString();
    }
    // An explicit environment wins over what is stored; the file and the defaults only fill gaps.
    for (const auto& [key, field] : {std::pair{ConfigKey::SelfHostedUrl, &found.url},
                                     std::pair{ConfigKey::SelfHostedToken, &found.token}}) {
        const QString value = config.value(key).trimmed();
        if (!value.isEmpty() && (field->isEmpty() || config.source(key) == Config::Source::Environment))
            *field = value;
    }
    if (found.url.isEmpty())
        return std::nullopt;
    if (!found.url.endsWith(QLatin1Char('/')))
        found.url += QLatin1Char('/');
    if (found.token.isEmpty() && onThisMachine(found.url)) {
        QFile file(defaultServerTokenPath());
        if (file.open(QIODevice::ReadOnly))
            found.token = QString::fromUtf8(file.readAll()).trimmed();
    }
    if (found.token.isEmpty())
        return std::nullopt;
    return found;
}
