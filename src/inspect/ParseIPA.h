#pragma once

#include "inspect/Inspector.h"

#include <QVariantMap>

// Reads bundle identifier, version, name, minimum OS, size and icon out of an iOS package.
// Only the bundle's Info.plist, its provisioning profile and its top-level PNG files are
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

private:
    void unzipFinished();
    void readPayload();

    QString m_sourcePath;
    QString m_contentPath;
    QStringList m_refusedPlistBundles; // bundle folders whose Info.plist was not extracted
    QStringList m_signedBundles;       // bundle folders with a _CodeSignature folder
};
