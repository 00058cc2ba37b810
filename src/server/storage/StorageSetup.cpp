#include "server/storage/StorageSetup.h"

#include "core/Log.h"
#include "server/ServerOptions.h"
#include "server/storage/FileStore.h"
#include "server/storage/s3/S3Store.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

namespace {

struct S3Location {
    QString bucket;
    QString prefix; // "" or ending in "/"
};

std::optional<S3Location> parseS3(const QString& storage, QString* problem) {
    const QString rest = storage.mid(5); // after "s3://"
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    S3Location location{slash < 0 ? rest : rest.left(slash), slash < 0 ? QString() : rest.mid(slash + 1)};
    static const QRegularExpression bucketShape(QStringLiteral("^[a-z0-9][a-z0-9.-]{1,61}[a-z0-9]$"));
    if (!bucketShape.match(location.bucket).hasMatch()) {
        *problem = QStringLiteral("--storage wants s3://bucket/prefix with a valid bucket name, got '%1'")
                       .arg(storage);
        return std::nullopt;
    }
    while (location.prefix.contains(QStringLiteral("//")))
        location.prefix.replace(QStringLiteral("//"), QStringLiteral("/"));
    if (location.prefix.startsWith(QLatin1Char('/')))
        location.prefix.remove(0, 1);
    const QStringList parts = location.prefix.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.contains(QStringLiteral("..")) || parts.contains(QStringLiteral(".")) ||
        location.prefix.contains(QLatin1Char('\\'))) {
        *problem = QStringLiteral("--storage: the prefix must not contain '.', '..' or backslashes");
        return std::nullopt;
    }
    location.prefix = parts.isEmpty() ? QString() : parts.join(QLatin1Char('/')) + QLatin1Char('/');
    return location;
}

} // namespace

QString storageProblem(const ServerOptions& o) {
    if (o.storage.isEmpty())
        return {};
    if (o.storage.startsWith(QLatin1String("file:"))) {
        if (o.storage.size() == 5)
            return QStringLiteral("--storage file: wants a folder, as in file:/srv/vantry/files");
        return {};
    }
    if (!o.storage.startsWith(QLatin1String("s3://")))
        return QStringLiteral("--storage wants file:DIR or s3://bucket/prefix, got '%1'").arg(o.storage);
    QString problem;
    if (!parseS3(o.storage, &problem))
        return problem;
    if (!o.s3Endpoint.isEmpty()) {
        const QUrl url(o.s3Endpoint, QUrl::StrictMode);
        if (!url.isValid() ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
            url.host().isEmpty() || url.hasQuery() ||
            (!url.path().isEmpty() && url.path() != QLatin1String("/")))
            return QStringLiteral("--s3-endpoint wants an http or https URL without a path, got '%1'")
                .arg(o.s3Endpoint);
    }
    static const QRegularExpression regionShape(QStringLiteral("^[a-z0-9-]{1,64}$"));
    if (!o.s3Region.isEmpty() && !regionShape.match(o.s3Region).hasMatch())
        return QStringLiteral("--s3-region wants a region name such as eu-west-1, got '%1'").arg(o.s3Region);
    if (o.s3AccessKey.isEmpty() || o.s3SecretKey.isEmpty())
        return QStringLiteral(
            "--storage s3:// needs credentials: AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY "
            "(or --s3-access-key and --s3-secret-key)");
    return {};
}

std::optional<S3Config> s3ConfigFor(const ServerOptions& o) {
    QString problem;
    const std::optional<S3Location> location =
        o.storage.startsWith(QLatin1String("s3://")) ? parseS3(o.storage, &problem) : std::nullopt;
    if (!location)
        return std::nullopt;
    S3Config config;
    config.bucket = location->bucket.toStdString();
    config.prefix = location->prefix.toStdString();
    if (!o.s3Region.isEmpty())
        config.region = o.s3Region.toStdString();
    if (!o.s3Endpoint.isEmpty()) {
        QString endpoint = o.s3Endpoint;
        while (endpoint.endsWith(QLatin1Char('/')))
            endpoint.chop(1);
        config.endpoint = endpoint.toStdString();
    } else {
        config.endpoint = "https://s3." + config.region + ".amazonaws.com";
    }
    config.pathStyle = o.s3PathStyle.value_or(!o.s3Endpoint.isEmpty());
    config.accessKey = o.s3AccessKey.toStdString();
    config.secretKey = o.s3SecretKey.toStdString();
    config.sessionToken = o.s3SessionToken.toStdString();
    return config;
}

std::unique_ptr<ObjectStore> makeObjectStore(const ServerOptions& o, QString* error) {
    if (o.storage.startsWith(QLatin1String("s3://"))) {
        const std::optional<S3Config> config = s3ConfigFor(o);
        if (!config) {
            if (error)
                *error = storageProblem(o);
            return nullptr;
        }
        auto store = std::make_unique<S3Store>(*config, uint64_t(o.maxUploadBytes));
        // The server starts anyway: the bucket may come up later, and /healthz tells the proxy.
        if (!store->isReachable())
            logLine(QStringLiteral("storage: the bucket %1 does not answer yet")
                        .arg(QString::fromStdString(store->describe())));
        return store;
    }
    const QString root =
        o.storage.isEmpty() ? o.dataDir + QStringLiteral("/files") : o.storage.mid(5); // after "file:"
    if (!QDir().mkpath(root)) {
        if (error)
            *error = QStringLiteral("cannot create the storage folder %1").arg(root);
        return nullptr;
    }
    auto store = std::make_unique<FileStore>(QDir(root).absolutePath().toStdString());
    if (const int removed = store->removeUnfinishedUploads())
        logLine(QStringLiteral("removed %1 unfinished upload(s) left by an earlier run").arg(removed));
    return store;
}
