#include "inspect/ResourceFolder.h"

#include "core/Config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
bool holdsScripts(const QString& folder) {
    return !folder.isEmpty() && QFileInfo(folder + QStringLiteral("/getApkInfo.sh")).isFile();
}
} // namespace

QString resourceFolder() {
    const QString configured = configValue(ConfigKey::InspectResourceDir);
    if (!configured.isEmpty())
        return QDir::cleanPath(QFileInfo(configured).absoluteFilePath());
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        candidates << appDir + QStringLiteral("/resources")
                   << appDir + QStringLiteral("/../share/vantry/resources");
    }
    candidates << QStringLiteral(VANTRY_SOURCE_RESOURCE_DIR);
    for (const QString& c : candidates) {
        if (holdsScripts(c))
            return QDir::cleanPath(c);
    }
    return {};
}

QString resourceScript(const QString& fileName) {
    const QString folder = resourceFolder();
    if (folder.isEmpty())
        return {};
    const QString path = folder + QLatin1Char('/') + fileName;
    return QFileInfo(path).isFile() ? path : QString();
}
