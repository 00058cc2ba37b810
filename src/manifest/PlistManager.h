#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// Writes the over-the-air install manifest that iOS reads from an itms-services link.
class PlistManager {
public:
    static QVariantMap makeManifest(const QString& url, const QString& title, const QString& bundleVersion,
                                    const QString& bundleIdentifier);

    // Writes "manifest.plist" into the working folder, replacing any earlier one; returns the
    // plain file-system path, or nothing when the folder is missing or not writable.
    static std::optional<QString> writeManifest(const QString& url, const QString& title,
                                                const QString& bundleVersion,
                                                const QString& bundleIdentifier);

    // The same, to an explicit file.
    static std::optional<QString> writeManifestTo(const QString& filePath, const QString& url,
                                                  const QString& title, const QString& bundleVersion,
                                                  const QString& bundleIdentifier);

    static QString defaultManifestPath();
};
