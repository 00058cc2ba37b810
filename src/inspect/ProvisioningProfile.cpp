#include "inspect/ProvisioningProfile.h"

#include "plist/PlistReader.h"

#include <QTimeZone>
#include <QVariantList>

namespace {

// The property list inside a file that is not the expected CMS structure: from "<?xml" to the
// first "</plist>" after it.
std::optional<QByteArray> embeddedXml(QByteArrayView bytes) {
    const qsizetype start = bytes.indexOf(QByteArrayView("<?xml"));
    if (start < 0)
        return std::nullopt;
    constexpr QByteArrayView endTag("</plist>");
    const qsizetype end = bytes.indexOf(endTag, start);
    if (end < 0)
        return std::nullopt;
    return bytes.sliced(start, end + endTag.size() - start).toByteArray();
}

QString text(const QVariantMap& map, const char* key) {
    const QVariant v = map.value(QLatin1String(key));
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QDateTime date(const QVariantMap& map, const char* key) {
    const QVariant v = map.value(QLatin1String(key));
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

} // namespace

QString ProvisioningProfile::kindKey(Kind kind) {
    switch (kind) {
    case Kind::Development:
        return QStringLiteral("development");
    case Kind::AdHoc:
        return QStringLiteral("ad-hoc");
    case Kind::Enterprise:
        return QStringLiteral("enterprise");
    case Kind::AppStore:
        break;
    }
    return QStringLiteral("app-store");
}

std::optional<ProvisioningProfile> ProvisioningProfile::read(QByteArrayView fileBytes) {
    std::optional<QByteArray> content = Der::signedContent(fileBytes);
    if (!content || !content->contains("<plist"))
        content = embeddedXml(fileBytes);
    if (!content)
        return std::nullopt;
    const std::optional<QVariantMap> plist = PlistReader::dictionaryFromBytes(*content);
    if (!plist)
        return std::nullopt;
    const QVariant entitlementsValue = plist->value(QStringLiteral("Entitlements"));
    const QVariantMap entitlements = entitlementsValue.toMap();
    ProvisioningProfile p;
    p.expirationDate = date(*plist, "ExpirationDate");
    if (!p.expirationDate.isValid() && entitlementsValue.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    p.name = text(*plist, "Name");
    p.teamName = text(*plist, "TeamName");
    const QVariantList teams = plist->value(QStringLiteral("TeamIdentifier")).toList();
    if (!teams.isEmpty() && teams.constFirst().typeId() == QMetaType::QString)
        p.teamIdentifier = teams.constFirst().toString();
    p.appIdentifier = text(entitlements, "application-identifier");
    p.creationDate = date(*plist, "CreationDate");
    p.getTaskAllow = entitlements.value(QStringLiteral("get-task-allow")).typeId() == QMetaType::Bool &&
                     entitlements.value(QStringLiteral("get-task-allow")).toBool();
    const QVariant devices = plist->value(QStringLiteral("ProvisionedDevices"));
    const QVariant allDevices = plist->value(QStringLiteral("ProvisionsAllDevices"));
    if (allDevices.typeId() == QMetaType::Bool && allDevices.toBool()) {
        p.kind = Kind::Enterprise;
    } else if (devices.typeId() == QMetaType::QVariantList) {
        const QVariantList listed = devices.toList();
        p.deviceCount = int(listed.size());
        for (const QVariant& id : listed)
            p.deviceIds.append(id.typeId() == QMetaType::QString ? id.toString() : QString());
        p.kind = p.getTaskAllow ? Kind::Development : Kind::AdHoc;
    } else {
        p.kind = Kind::AppStore;
    }
    for (const QVariant& cert : plist->value(QStringLiteral("DeveloperCertificates")).toList()) {
        if (cert.typeId() != QMetaType::QByteArray)
            continue;
        if (const auto notAfter = Der::certificateNotAfter(cert.toByteArray()))
            p.certificateExpiries.append(*notAfter);
    }
    return p;
}

bool ProvisioningProfile::matchesBundle(const QString& bundleId) const {
    if (appIdentifier.isEmpty() || bundleId.isEmpty())
        return false;
    // The prefix is the team (or an older app id prefix): everything up to the first dot.
    const qsizetype dot = appIdentifier.indexOf(QLatin1Char('.'));
    const QString pattern = dot < 0 ? appIdentifier : appIdentifier.mid(dot + 1);
    if (pattern == QLatin1String("*"))
        return true;
    if (pattern.endsWith(QLatin1String(".*")))
        return bundleId.startsWith(pattern.chopped(1)) && bundleId.size() > pattern.size() - 1;
    return pattern == bundleId;
}
