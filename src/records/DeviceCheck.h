#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The devices a development or ad hoc build installs on, as createapp carries them under
// "provisioneddeviceids": the profile's ProvisionedDevices, comma-separated.
namespace DeviceIds {

inline constexpr qsizetype maxCount = 1000;

// A UDID: 8 hex digits, a dash and 16 hex digits (devices since 2018), or 40 hex digits.
bool isValid(QStringView id);
// The entries of a sent list when every one is a UDID and there are 1 to maxCount of them.
std::optional<QStringList> parse(const QString& commaSeparated);
// What createapp sends for a profile's list: "" when any entry is not a UDID, or when there
// are none or more than maxCount.
QString join(const QStringList& ids);
// Whether list holds id; phones and profiles write the hex digits in either case.
bool contains(const QStringList& list, QStringView id);

} // namespace DeviceIds

// One device a tester checked against a build (GET /devices/<appid>).
struct DeviceCheck {
    QString udid;
    QString product;      // the model, "iPhone15,2"
    QString version;      // the system's build, "21F90"
    QString deviceName;   // as the phone names itself; may be empty
    qint64 checkedAt = 0; // seconds since the epoch
    bool included = false;

    QJsonObject toJson() const;
    // The "response" array of /devices; nothing when an element lacks a key or has another type.
    static std::optional<QList<DeviceCheck>> listFromJson(const QJsonValue& response);

    bool operator==(const DeviceCheck&) const = default;
};

// Each device once, at its newest check; the checks come newest first.
QList<DeviceCheck> latestPerDevice(const QList<DeviceCheck>& newestFirst);

// "3 checked, 1 not in this build": devices, each counted once.
QString deviceSummary(const QList<DeviceCheck>& newestFirst);

// The devices not in the build as the tab-separated text Apple's developer site takes for a
// multiple-device upload: the header "Device ID", "Device Name", "Device Platform", then one
// line per device ("ios"), each line ending in "\n".
QByteArray appleDeviceList(const QList<DeviceCheck>& newestFirst);
