#pragma once

#include "inspect/Inspector.h"

#include <QHash>

// Reads package name, version name, version code, label, size and launcher icon out of an
// Android package through the two shipped scripts. The code and bulk of the package (*.dex,
// lib/, assets/) are not extracted, so the time taken does not depend on their size.
class ParseAPK : public Inspector {
    Q_OBJECT
public:
    using Inspector::Inspector;

    void inspect(const QUrl& location) override;

    // The four badging values ("name", "packageName", "versionCode", "versionName") found in
    // aapt's badging text; a key is present only when its pattern matched.
    static QHash<QString, QString> badgingValues(const QString& output);
    // The first capture of the first match of pattern (case-insensitive), if any.
    static std::optional<QString> captureFirst(const QString& text, const QString& pattern);

    // An Android App Bundle (BundleConfig.pb, base/manifest/) with no manifest of an APK.
    static bool isAppBundle(const QList<ZipEntry>& entries);

private:
    void readBadging();
    void extractIcon(const QHash<QString, QString>& badging);

    QString m_packagePath;
};
