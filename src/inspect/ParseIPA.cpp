#include "inspect/ParseIPA.h"

#include "core/Log.h"
#include "inspect/CgbiImage.h"
#include "plist/PlistReader.h"

#include <QFileInfo>
#include <QHash>
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
const QString notValid = QStringLiteral("This file is not a valid iOS app package.");

// An icon or launch image is well under this; an Info.plist far under its own.
constexpr std::uint64_t maxIconBytes = 16 * 1024 * 1024;
constexpr std::uint64_t maxInfoPlistBytes = PlistReader::maxBytes;
// A profile is a few kilobytes, some tens with many devices and certificates.
constexpr std::uint64_t maxProfileBytes = 4 * 1024 * 1024;
const QString profileName = QStringLiteral("embedded.mobileprovision");

// The bundle folder and file name of an entry of the form "Payload/NAME.app/FILE" (the folder
// names compared case-insensitively).
std::optional<std::pair<QByteArray, QByteArray>> bundleFile(const QByteArray& name) {
    const QList<QByteArray> parts = name.split('/');
    if (parts.size() != 3 || parts[0].toLower() != "payload" || !parts[1].toLower().endsWith(".app"))
        return std::nullopt;
    return std::pair(parts[1], parts[2]);
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
    const auto entries = ZipDirectory::read(m_sourcePath);
    if (!entries) {
        fail(notValid);
        return;
    }
    // The first bundle folder by name, as a listing of Payload would give it.
    bool payload = false;
    std::optional<QByteArray> bundle;
    for (const ZipEntry& entry : *entries) {
        payload = payload || entry.name.left(8).toLower() == "payload/";
        const auto file = bundleFile(entry.name);
        if (file && (!bundle || QString::fromUtf8(file->first) < QString::fromUtf8(*bundle)))
            bundle = file->first;
    }
    if (!payload) {
        logLine(QStringLiteral("Check this path -> documents/") + QFileInfo(m_workingPath).fileName());
        fail(notValid);
        return;
    }
    if (!bundle) {
        fail(QStringLiteral("The iOS app package holds no app bundle."));
        return;
    }
    readBundle(*entries, *bundle);
}

// Only what inspection reads leaves the archive: the bundle's Info.plist and provisioning profile
// (into memory) and the icon files its Info.plist names (into the working folder, for the upload).
void ParseIPA::readBundle(const QList<ZipEntry>& entries, const QByteArray& bundle) {
    // The bundle's top-level files; the last of entries sharing a name, as extracting them in
    // turn would leave.
    QHash<QByteArray, const ZipEntry*> files;
    for (const ZipEntry& entry : entries) {
        if (const auto file = bundleFile(entry.name); file && file->first == bundle)
            files.insert(file->second, &entry);
    }
    const auto find = [&files](const QByteArray& name) { return files.value(name); };
    const auto refused = [](const ZipEntry& entry) {
        logLine(QStringLiteral("Refused to extract ") + QString::fromUtf8(entry.name));
    };
    const QString bundleFolder = QStringLiteral("Payload/") + QString::fromUtf8(bundle);
    m_contentPath = m_workingPath + QLatin1Char('/') + bundleFolder;

    const ZipEntry* plistEntry = find("Info.plist");
    if (!plistEntry) {
        fail(QStringLiteral("The app bundle has no readable Info.plist."));
        return;
    }
    if (!mayExtract(*plistEntry, maxInfoPlistBytes)) {
        refused(*plistEntry);
        fail(damagedPlist);
        return;
    }
    const std::optional<QByteArray> plist = readEntry(m_sourcePath, *plistEntry, notValid);
    if (!plist)
        return;
    const PlistReader::Result info = PlistReader::fromBytes(*plist);
    if (info.problem == PlistReader::Problem::Refused) {
        fail(damagedPlist);
        return;
    }
    if (!info.dictionary) {
        fail(QStringLiteral("The app bundle has no readable Info.plist."));
        return;
    }

    std::optional<QByteArray> profile;
    if (const ZipEntry* entry = find(profileName.toLatin1())) {
        if (!mayExtract(*entry, maxProfileBytes))
            refused(*entry);
        else if (!(profile = readEntry(m_sourcePath, *entry, notValid)))
            return;
    }
    for (const QString& name : iconCandidates(*info.dictionary)) {
        const ZipEntry* entry = find(name.toUtf8());
        if (!entry)
            continue;
        if (!mayExtract(*entry, maxIconBytes))
            refused(*entry);
        else if (!extractEntry(m_sourcePath, *entry, bundleFolder + QLatin1Char('/') + name, notValid))
            return;
    }
    logLine(QStringLiteral("Unzipping done"));

    const QString bundleName = QString::fromUtf8(bundle);
    PackageRecord record = recordFromInfo(*info.dictionary, m_contentPath);
    record.size = packageSizeText(m_sourcePath);
    m_preflight =
        Preflight::forIos(*info.dictionary, profile, signedBundles(entries).contains(bundleName), clock());
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

std::optional<QString> ParseIPA::iconBase(const QVariantMap& info) {
    const QVariantMap icons = nonEmptyDictionary(info.value(QStringLiteral("CFBundleIcons")));
    const QVariantMap primary = nonEmptyDictionary(icons.value(QStringLiteral("CFBundlePrimaryIcon")));
    const QVariant files = primary.value(QStringLiteral("CFBundleIconFiles"));
    if (files.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = files.toList();
    if (list.isEmpty() || list.constFirst().typeId() != QMetaType::QString)
        return std::nullopt;
    // The first entry, not the largest: list order decides. A name leading out of the bundle
    // would make the upload publish some other file.
    const QString name = list.constFirst().toString();
    return isPlainRelativePath(name) ? std::optional(name) : std::nullopt;
}

QStringList ParseIPA::iconCandidates(const QVariantMap& info) {
    const std::optional<QString> base = iconBase(info);
    if (!base)
        return {};
    QStringList names;
    for (const QString& name : {*base + QStringLiteral(".png"), *base + QStringLiteral("@2x.png"), *base,
                                *base + QStringLiteral("@2x~ipad.png")}) {
        if (name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) && !names.contains(name))
            names.append(name);
    }
    return names;
}

QString ParseIPA::iconPath(const QVariantMap& info, const QString& bundlePath) {
    const std::optional<QString> name = iconBase(info);
    if (!name)
        return {};
    const QString base = bundlePath + QLatin1Char('/') + *name;
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
