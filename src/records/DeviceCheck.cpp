#include "records/DeviceCheck.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>

namespace {

bool hexDigits(QStringView text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')))
            return false;
    }
    return true;
}

// A name Apple's upload takes: no tabs or line breaks, and at most its 50 characters.
QString uploadName(const DeviceCheck& check) {
    QString name = check.deviceName.trimmed().isEmpty() ? check.product : check.deviceName;
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    name = name.simplified().left(50);
    return name.isEmpty() ? QStringLiteral("iOS device") : name;
}

} // namespace

bool DeviceIds::isValid(QStringView id) {
    if (id.size() == 40)
        return hexDigits(id);
    return id.size() == 25 && id[8] == QLatin1Char('-') && hexDigits(id.first(8)) && hexDigits(id.sliced(9));
}

std::optional<QStringList> DeviceIds::parse(const QString& commaSeparated) {
    const QStringList ids = commaSeparated.split(QLatin1Char(','));
    if (ids.size() > maxCount)
        return std::nullopt;
    for (const QString& id : ids) {
        if (!isValid(id))
            return std::nullopt;
    }
    return ids;
}

QString DeviceIds::join(const QStringList& ids) {
    if (ids.isEmpty() || ids.size() > maxCount)
        return {};
    for (const QString& id : ids) {
        if (!isValid(id))
            return {};
    }
    return ids.join(QLatin1Char(','));
}

bool DeviceIds::contains(const QStringList& list, QStringView id) {
    for (const QString& entry : list) {
        if (QStringView(entry).compare(id, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QJsonObject DeviceCheck::toJson() const {
    return {{QStringLiteral("udid"), udid},
            {QStringLiteral("product"), product},
            {QStringLiteral("version"), version},
            {QStringLiteral("devicename"), deviceName},
            {QStringLiteral("checkedAt"), double(checkedAt)},
            {QStringLiteral("included"), included}};
}

std::optional<QList<DeviceCheck>> DeviceCheck::listFromJson(const QJsonValue& response) {
    if (!response.isArray())
        return std::nullopt;
    QList<DeviceCheck> checks;
    for (const QJsonValue& element : response.toArray()) {
        const QJsonObject o = element.toObject();
        const QJsonValue texts[] = {o.value(QStringLiteral("udid")), o.value(QStringLiteral("product")),
                                    o.value(QStringLiteral("version")),
                                    o.value(QStringLiteral("devicename"))};
        const QJsonValue at = o.value(QStringLiteral("checkedAt"));
        const QJsonValue included = o.value(QStringLiteral("included"));
        for (const QJsonValue& t : texts) {
            if (!t.isString())
                return std::nullopt;
        }
        if (!at.isDouble() || !included.isBool())
            return std::nullopt;
        checks.append({texts[0].toString(), texts[1].toString(), texts[2].toString(), texts[3].toString(),
                       qint64(at.toDouble()), included.toBool()});
    }
    return checks;
}

QList<DeviceCheck> latestPerDevice(const QList<DeviceCheck>& newestFirst) {
    QList<DeviceCheck> out;
    QSet<QString> seen;
    for (const DeviceCheck& check : newestFirst) {
        const QString key = check.udid.toUpper();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        out.append(check);
    }
    return out;
}

QString deviceSummary(const QList<DeviceCheck>& newestFirst) {
    const QList<DeviceCheck> devices = latestPerDevice(newestFirst);
    const auto missing =
        std::count_if(devices.begin(), devices.end(), [](const DeviceCheck& c) { return !c.included; });
    return QStringLiteral("%1 checked, %2 not in this build").arg(devices.size()).arg(missing);
}

QByteArray appleDeviceList(const QList<DeviceCheck>& newestFirst) {
    QByteArray out("Device ID\tDevice Name\tDevice Platform\n");
    for (const DeviceCheck& check : latestPerDevice(newestFirst)) {
        if (!check.included && DeviceIds::isValid(check.udid))
            out += check.udid.toUtf8() + '\t' + uploadName(check).toUtf8() + "\tios\n";
    }
    return out;
}
