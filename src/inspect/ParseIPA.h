#pragma once

#include "inspect/Inspector.h"

#include <QVariantMap>

// Reads bundle identifier, version, name, minimum OS, size and icon out of an iOS package.
// Only the bundle's Info.plist, its provisioning profile and the icon files it names are
// extracted, so the time taken does not depend on the size of the package's other contents.
class ParseIPA : public Inspector {
    Q_OBJECT
public:
    using Inspector::Inspector;

    void inspect(const QUrl& location) override;

    // The record fields taken from an Info.plist dictionary; bundlePath is the extracted .app
    // folder the icon names are resolved against.
    static PackageRecord recordFromInfo(const QVariantMap& info, const QString& bundlePath);
    static QString iconPath(const QVariantMap& info, const QString& bundlePath);
    // The top-level PNG files of the bundle iconPath may pick.
    static QStringList iconCandidates(const QVariantMap& info);

private:
    static std::optional<QString> iconBase(const QVariantMap& info);
    void readBundle(const QList<ZipEntry>& entries, const QByteArray& bundle);

    QString m_sourcePath;
    QString m_contentPath;
};
