#include "manifest/PlistManager.h"

#include "core/WorkingFolder.h"
#include "plist/XmlPlist.h"

#include <QFileInfo>
#include <QSaveFile>

QVariantMap PlistManager::makeManifest(const QString& url, const QString& title, const QString& bundleVersion,
                                       const QString& bundleIdentifier) {
    const QVariantMap asset{{QStringLiteral("kind"), QStringLiteral("software-package")},
                            {QStringLiteral("url"), url}};
    const QVariantMap metadata{{QStringLiteral("title"), title},
                               {QStringLiteral("bundle-version"), bundleVersion},
                               {QStringLiteral("kind"), QStringLiteral("software")},
                               {QStringLiteral("bundle-identifier"), bundleIdentifier}};
    const QVariantMap item{{QStringLiteral("assets"), QVariantList{asset}},
                           {QStringLiteral("metadata"), metadata}};
    return {{QStringLiteral("items"), QVariantList{item}}};
}

QString PlistManager::defaultManifestPath() {
    return workingFolder() + QStringLiteral("/manifest.plist");
}

std::optional<QString> PlistManager::writeManifest(const QString& url, const QString& title,
                                                   const QString& bundleVersion,
                                                   const QString& bundleIdentifier) {
    return writeManifestTo(defaultManifestPath(), url, title, bundleVersion, bundleIdentifier);
}

std::optional<QString> PlistManager::writeManifestTo(const QString& filePath, const QString& url,
                                                     const QString& title, const QString& bundleVersion,
                                                     const QString& bundleIdentifier) {
    // QSaveFile writes a temporary file beside the target and renames it on commit.
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    const QByteArray xml = toXmlPlist(makeManifest(url, title, bundleVersion, bundleIdentifier));
    if (file.write(xml) != xml.size() || !file.commit())
        return std::nullopt;
    return QFileInfo(filePath).absoluteFilePath();
}
