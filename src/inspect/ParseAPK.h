#pragma once

#include "inspect/Inspector.h"

#include <QHash>

// Reads package name, version name, version code, label, size and launcher icon out of an
// Android package through the two shipped scripts. Only the icon is extracted, so the time
// taken does not depend on the size of the package's other contents.
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
    void finishRecord(const QHash<QString, QString>& badging);
    // Writes the entry name to the same name in the working folder when the package has it;
    // false when the inspection failed on it.
    bool extractIcon(const QString& name);

    QString m_packagePath;
    QList<ZipEntry> m_entries;
};
