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

// What the "-x" patterns of unzip below leave: all but code, native libraries and assets.
std::optional<std::uint64_t> extractionLimit(const QByteArray& name) {
    if (name.endsWith(".dex") || name.startsWith("lib/") || name.startsWith("assets/"))
        return std::nullopt;
    return maxResourceBytes;
}
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
        fail(QStringLiteral("This file is not a valid Android app package."));
        return;
    }
    const QString notValid = QStringLiteral("This file is not a valid Android app package.");
    const auto entries = ZipDirectory::read(m_packagePath);
    const auto plan = entries ? planExtraction(*entries, extractionLimit) : std::nullopt;
    if (!plan) {
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
    for (const QByteArray& name : plan->refused)
        logLine(QStringLiteral("Refused to extract ") + QString::fromUtf8(name));
    // The package is read where it lies rather than copied first, and its code and bulk are
    // left in the archive: what remains (manifest, resources) is what the icon path names.
    const QStringList args =
        QStringList{QStringLiteral("-o"),    QStringLiteral("-q"),    QStringLiteral("-d"),
                    m_workingPath,           m_packagePath,           QStringLiteral("-x"),
                    QStringLiteral("*.dex"), QStringLiteral("lib/*"), QStringLiteral("assets/*")} +
        plan->exclusions;
    runUnzip(args, [this, notValid](int exitCode) {
        if (exitCode == unzipFailedToStart) {
            fail(QStringLiteral("The unzip program could not be run."));
            return;
        }
        if (exitCode == unzipCrashed) {
            fail(notValid);
            return;
        }
        if (QFileInfo(m_workingPath).isDir())
            logLine(QStringLiteral("Unzipping done"));
        else
            logLine(QStringLiteral("Check this path -> documents/") + QFileInfo(m_workingPath).fileName());
        readBadging();
    });
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
            fail(QStringLiteral("This file is not a valid Android app package."));
            return;
        }
        m_preflight = Preflight::forAndroid(output);
        extractIcon(badging);
    });
}

void ParseAPK::extractIcon(const QHash<QString, QString>& badging) {
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
