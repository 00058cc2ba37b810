#pragma once

#include "records/PackageRecord.h"

#include <QDateTime>
#include <QVariantMap>

// One published app as the backend stores it. Every field is a text, empty on creation.
struct Zapp {
    QString userid;
    QString appname;
    QString appicon;
    QString appversion;
    QString appurl;
    QString appid;   // 10 characters; Android ids end in "__android"
    QString appdate; // "yyyy/MM/dd HH:mm", local time
    QString appsize;
    QString appMinOS;
    QString qrLink;
    QString appdescription;
    // Optional, iOS only; "" when unknown, and then never sent. Older servers and clients
    // ignore them.
    QString profileKind;        // "development", "ad-hoc", "enterprise", "app-store"
    QString profileExpiry;      // ISO 8601 date, "2026-05-03"
    QString provisionedDevices; // device count as text, for development and ad hoc profiles
    // The profile's devices, comma-separated (DeviceIds); sent with createapp, never read back.
    QString provisionedDeviceIds;
    // The inspected bundle id or package name, sent when known; the app list answers the stable
    // link its builds share ("" for records without a bundle id, and from older servers).
    QString bundleID;
    QString latestUrl;

    Zapp() = default;
    // Read mapping of the backend's answers ("minOS", "QRLink"); missing keys give empty texts.
    explicit Zapp(const QVariantMap& map);
    // From an inspected package, dated now (or at the given time, for tests).
    explicit Zapp(const PackageRecord& package, const QDateTime& now = QDateTime::currentDateTime());

    bool operator==(const Zapp&) const = default;
};
