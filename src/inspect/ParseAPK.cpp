#include "inspect/ParseAPK.h"

#include "core/Log.h"
#include "inspect/ResourceFolder.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace {
QString decodeOutput(const std::optional<QByteArray>& bytes) {
    if (!bytes)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(*bytes);
    // Output that is not valid UTF-8 counts as no output.
    return decoder.hasError() ? QString() : text;
}

// Resources are icons, layouts and strings; a big media file among them is of no use here.
constexpr std::uint64_t maxResourceBytes = 16 * 1024 * 1024;

const QString notValid = QStringLiteral("This file is not a valid Android app package.");
} // namespace

bool ParseAPK::isAppBundle(const QList<ZipEntry>& entries) {
    bool bundleFiles = false;
    for (const ZipEntry& entry : entries) {
        if (entry.name == "AndroidManifest.xml")
            return false;
        bundleFiles = bundleFiles || entry.name == "BundleConfig.pb" ||
                      entry.name == "base/manifest/AndroidManifest.xml";
    }
    return bundleFiles;
}

void ParseAPK::inspect(const QUrl& location) {
    m_packagePath = QFileInfo(localPath(location)).absoluteFilePath();
    if (!prepareWorkingFolder()) {
        logLine(QStringLiteral("Error: could not create ") + m_workingPath);
        fail(QStringLiteral("The working folder could not be created."));
        return;
    }
    if (!QFileInfo(m_packagePath).isFile()) {
        logLine(QStringLiteral("Error: no such file ") + m_packagePath);
        fail(notValid);
        return;
    }
    const auto entries = ZipDirectory::read(m_packagePath);
    if (!entries) {
        fail(notValid);
        return;
    }
    if (isAppBundle(*entries)) {
        // aapt cannot read a bundle; what the record can still say is its size.
        m_preflight = Preflight::forAppBundle();
        PackageRecord record;
        record.size = packageSizeText(m_packagePath);
        record.minOS = QStringLiteral("10");
        deliver(record);
        return;
    }
    // aapt reads the package where it lies; only the icon is extracted, once its name is known.
    m_entries = *entries;
    readBadging();
}

void ParseAPK::readBadging() {
    const QString script = resourceScript(QStringLiteral("getApkInfo.sh"));
    if (script.isEmpty()) {
        logLine(QStringLiteral("Error: getApkInfo.sh not found"));
        fail(QStringLiteral("The package inspection scripts are missing."));
        return;
    }
    runScript(script, resourceFolder(), m_packagePath, [this](std::optional<QByteArray> bytes) {
        if (!bytes) {
            fail(QStringLiteral("The shell could not be run."));
            return;
        }
        const QString output = decodeOutput(bytes);
        logLine(output);
        const QHash<QString, QString> badging = badgingValues(output);
        if (!badging.contains(QStringLiteral("packageName"))) {
            fail(notValid);
            return;
        }
        m_preflight = Preflight::forAndroid(output);
        finishRecord(badging);
    });
}

bool ParseAPK::extractIcon(const QString& name) {
    const QByteArray bytes = name.toUtf8();
    const ZipEntry* found = nullptr;
    for (const ZipEntry& entry : m_entries) {
        if (entry.name == bytes)
            found = &entry; // the last of entries sharing a name
    }
    if (!found)
        return true;
    if (!mayExtract(*found, maxResourceBytes)) {
        logLine(QStringLiteral("Refused to extract ") + name);
        return true;
    }
    return extractEntry(m_packagePath, *found, name, notValid);
}

void ParseAPK::finishRecord(const QHash<QString, QString>& badging) {
    const auto finish = [this, badging](const QString& icon) {
        PackageRecord record;
        record.bundleID = badging.value(QStringLiteral("packageName"));
        record.version = badging.value(QStringLiteral("versionName"));
        record.name = badging.value(QStringLiteral("name"));
        record.icon = icon;
        record.size = packageSizeText(m_packagePath);
        record.minOS = badging.value(QStringLiteral("versionCode"), QStringLiteral("10"));
        deliver(record);
    };
    const QString script = resourceScript(QStringLiteral("extractIconFromApk.sh"));
    if (script.isEmpty()) {
        finish(QString());
        return;
    }
    runScript(script, resourceFolder(), m_packagePath, [this, finish](std::optional<QByteArray> bytes) {
        QString relative = decodeOutput(bytes);
        relative.remove(QLatin1Char('\n'));
        // A name that climbs out of the working folder would make the upload take another file.
        if (!relative.isEmpty() && !isPlainRelativePath(relative)) {
            logLine(QStringLiteral("Refused icon path ") + relative);
            relative.clear();
        }
        if (!relative.isEmpty() && !extractIcon(relative))
            return;
        logLine(QStringLiteral("Unzipping done"));
        const QString icon = m_workingPath + QLatin1Char('/') + relative;
        logLine(icon);
        finish(icon);
    });
}

std::optional<QString> ParseAPK::captureFirst(const QString& text, const QString& pattern) {
    const QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption);
    if (!re.isValid()) {
        logLine(QStringLiteral("Problem!"));
        return std::nullopt;
    }
    const QRegularExpressionMatch match = re.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

QHash<QString, QString> ParseAPK::badgingValues(const QString& output) {
    static const std::pair<const char*, const char*> patterns[] = {
        {"application-label:'(.*?)'", "name"},
        {"package: name='(.*?)'", "packageName"},
        {"versionCode='(.*?)'", "versionCode"},
        {"versionName='(.*?)'", "versionName"},
    };
    QHash<QString, QString> values;
    for (const auto& [pattern, key] : patterns) {
        if (const auto value = captureFirst(output, QLatin1String(pattern)))
            values.insert(QLatin1String(key), *value);
    }
    return values;
}
