#include "inspect/ParseIPA.h"

#include "core/Log.h"
#include "inspect/CgbiImage.h"
#include "inspect/PlistReader.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

// A key counts only when its value is text.
QString textValue(const QVariantMap& map, const char* key) {
    const QVariant v = map.value(QLatin1String(key));
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QString textValue(const QVariantMap& map, const char* key, const char* fallbackKey) {
    const QVariant v = map.value(QLatin1String(key));
    return v.typeId() == QMetaType::QString ? v.toString() : textValue(map, fallbackKey);
}

QVariantMap nonEmptyDictionary(const QVariant& v) {
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

const QString damagedPlist = QStringLiteral("The app's Info.plist is damaged or too complex");

// An icon or launch image is well under this; an Info.plist far under its own.
constexpr std::uint64_t maxIconBytes = 16 * 1024 * 1024;
constexpr std::uint64_t maxInfoPlistBytes = PlistReader::maxBytes;
// A profile is a few kilobytes, some tens with many devices and certificates.
constexpr std::uint64_t maxProfileBytes = 4 * 1024 * 1024;
const QString profileName = QStringLiteral("embedded.mobileprovision");

// The bundle folder an entry of the form "Payload/NAME.app/FILE" lies in, with what unzip's
// "Payload/*.app/FILE" under -W -C would match (case-insensitive, "*" within one folder).
std::optional<std::pair<QByteArray, QByteArray>> bundleFile(const QByteArray& name) {
    const QList<QByteArray> parts = name.split('/');
    if (parts.size() != 3 || parts[0].toLower() != "payload" || !parts[1].toLower().endsWith(".app"))
        return std::nullopt;
    return std::pair(parts[1], parts[2]);
}

std::optional<std::uint64_t> extractionLimit(const QByteArray& name) {
    const auto file = bundleFile(name);
    if (!file)
        return std::nullopt;
    const QByteArray lower = file->second.toLower();
    if (lower == "info.plist")
        return maxInfoPlistBytes;
    if (lower.endsWith(".png"))
        return maxIconBytes;
    if (file->second == profileName.toLatin1())
        return maxProfileBytes;
    return std::nullopt;
}

// The bundle folders that hold a _CodeSignature folder, from the archive's directory alone.
QStringList signedBundles(const QList<ZipEntry>& entries) {
    QStringList out;
    for (const ZipEntry& entry : entries) {
        const QList<QByteArray> parts = entry.name.split('/');
        if (parts.size() >= 3 && parts[0].toLower() == "payload" && parts[1].toLower().endsWith(".app") &&
            parts[2] == "_CodeSignature" && !out.contains(QString::fromUtf8(parts[1])))
            out << QString::fromUtf8(parts[1]);
    }
    return out;
}

} // namespace

void ParseIPA::inspect(const QUrl& location) {
    if (!prepareWorkingFolder()) {
        logLine(QStringLiteral("Error: could not create ") + m_workingPath);
        fail(QStringLiteral("The working folder could not be created."));
        return;
    }
    m_sourcePath = localPath(location);
    if (QFileInfo(m_sourcePath).suffix().toLower() != QLatin1String("ipa")) {
        fail(QStringLiteral("This file is not an iOS app package (.ipa)."));
        return;
    }
    if (!location.isEmpty())
        logLine(QStringLiteral("Unzipping ") + location.toString());
    const QString notValid = QStringLiteral("This file is not a valid iOS app package.");
    const auto entries = ZipDirectory::read(m_sourcePath);
    if (!entries) {
        fail(notValid);
        return;
    }
    const auto plan = planExtraction(*entries, extractionLimit);
    if (!plan) {
        fail(notValid);
        return;
    }
    m_signedBundles = signedBundles(*entries);
    for (const QByteArray& name : plan->refused) {
        logLine(QStringLiteral("Refused to extract ") + QString::fromUtf8(name));
        if (bundleFile(name)->second.toLower() == "info.plist")
            m_refusedPlistBundles.append(QString::fromUtf8(bundleFile(name)->first));
    }
    // Only what inspection reads: the Payload and bundle folders, each top-level bundle's
    // Info.plist and PNG files. -W keeps "*" inside one path component; -C lets
    // "X.APP" count as a bundle, as the case-insensitive extension test below does.
    QStringList args = {QStringLiteral("-o"),
                        QStringLiteral("-q"),
                        QStringLiteral("-W"),
                        QStringLiteral("-C"),
                        QStringLiteral("-d"),
                        m_workingPath,
                        QFileInfo(m_sourcePath).absoluteFilePath(),
                        QStringLiteral("Payload/"),
                        QStringLiteral("Payload/*.app/"),
                        QStringLiteral("Payload/*.app/Info.plist"),
                        QStringLiteral("Payload/*.app/") + profileName,
                        QStringLiteral("Payload/*.app/*.png")};
    if (!plan->exclusions.isEmpty())
        args << QStringLiteral("-x") << plan->exclusions;
    runUnzip(args, [this, notValid](int exitCode) {
        if (exitCode == unzipFailedToStart) {
            fail(QStringLiteral("The unzip program could not be run."));
            return;
        }
        if (exitCode == unzipCrashed) {
            fail(notValid);
            return;
        }
        unzipFinished();
    });
}

void ParseIPA::unzipFinished() {
    // Only the presence of Payload decides: unzip also fails on harmless archive quirks.
    if (!QFileInfo(m_workingPath + QStringLiteral("/Payload")).isDir()) {
        if (!m_refusedPlistBundles.isEmpty()) {
            fail(damagedPlist);
            return;
        }
        logLine(QStringLiteral("Check this path -> documents/") + QFileInfo(m_workingPath).fileName());
        fail(QStringLiteral("This file is not a valid iOS app package."));
        return;
    }
    logLine(QStringLiteral("Unzipping done"));
    readPayload();
}

void ParseIPA::readPayload() {
    const QDir payload(m_workingPath + QStringLiteral("/Payload"));
    const QStringList entries =
        payload.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    QString bundle;
    for (const QString& entry : entries) {
        if (QFileInfo(entry).suffix().toLower() == QLatin1String("app")) {
            bundle = entry;
            break;
        }
    }
    // A bundle whose only extracted file would have been its refused Info.plist has no folder.
    if ((bundle.isEmpty() && !m_refusedPlistBundles.isEmpty()) || m_refusedPlistBundles.contains(bundle)) {
        fail(damagedPlist);
        return;
    }
    if (bundle.isEmpty()) {
        fail(QStringLiteral("The iOS app package holds no app bundle."));
        return;
    }
    m_contentPath = payload.filePath(bundle);
    const PlistReader::Result info = PlistReader::read(m_contentPath + QStringLiteral("/Info.plist"));
    if (info.problem == PlistReader::Problem::Refused) {
        fail(damagedPlist);
        return;
    }
    if (!info.dictionary) {
        fail(QStringLiteral("The app bundle has no readable Info.plist."));
        return;
    }
    PackageRecord record = recordFromInfo(*info.dictionary, m_contentPath);
    record.size = packageSizeText(m_sourcePath);
    std::optional<QByteArray> profile;
    QFile profileFile(m_contentPath + QLatin1Char('/') + profileName);
    if (profileFile.open(QIODevice::ReadOnly))
        profile = profileFile.read(qint64(maxProfileBytes));
    m_preflight = Preflight::forIos(*info.dictionary, profile, m_signedBundles.contains(bundle), clock());
    deliver(record);
}

PackageRecord ParseIPA::recordFromInfo(const QVariantMap& info, const QString& bundlePath) {
    PackageRecord record;
    record.bundleID = textValue(info, "CFBundleIdentifier");
    record.version = textValue(info, "CFBundleShortVersionString", "CFBundleVersion");
    record.name = textValue(info, "CFBundleDisplayName", "CFBundleName");
    record.icon = iconPath(info, bundlePath);
    const QVariant minOS = info.value(QStringLiteral("MinimumOSVersion"));
    record.minOS = minOS.typeId() == QMetaType::QString ? minOS.toString() : QStringLiteral("10");
    return record;
}

QString ParseIPA::iconPath(const QVariantMap& info, const QString& bundlePath) {
    const QVariantMap icons = nonEmptyDictionary(info.value(QStringLiteral("CFBundleIcons")));
    const QVariantMap primary = nonEmptyDictionary(icons.value(QStringLiteral("CFBundlePrimaryIcon")));
    const QVariant files = primary.value(QStringLiteral("CFBundleIconFiles"));
    if (files.typeId() != QMetaType::QVariantList)
        return {};
    const QVariantList list = files.toList();
    if (list.isEmpty() || list.constFirst().typeId() != QMetaType::QString)
        return {};
    // The first entry, not the largest: list order decides.
    const QString base = bundlePath + QLatin1Char('/') + list.constFirst().toString();
    for (const QString& candidate : {base + QStringLiteral(".png"), base + QStringLiteral("@2x.png")}) {
        if (!CgbiImage::load(candidate).isNull()) {
            // Later steps upload this file: leave an ordinary PNG there.
            CgbiImage::normalizeFile(candidate);
            return candidate;
        }
    }
    if (base.contains(QLatin1String(".png")))
        return base;
    return base + QStringLiteral("@2x~ipad.png");
}
