#include "records/Zapp.h"

Zapp::Zapp(const QVariantMap& map)
    : userid(map.value(QStringLiteral("userid")).toString()),
      appname(map.value(QStringLiteral("appname")).toString()),
      appicon(map.value(QStringLiteral("appicon")).toString()),
      appversion(map.value(QStringLiteral("appversion")).toString()),
      appurl(map.value(QStringLiteral("appurl")).toString()),
      appid(map.value(QStringLiteral("appid")).toString()),
      appdate(map.value(QStringLiteral("appdate")).toString()),
      appsize(map.value(QStringLiteral("appsize")).toString()),
      appMinOS(map.value(QStringLiteral("minOS")).toString()),
      qrLink(map.value(QStringLiteral("QRLink")).toString()),
      appdescription(map.value(QStringLiteral("appdescription")).toString()),
      profileKind(map.value(QStringLiteral("profilekind")).toString()),
      profileExpiry(map.value(QStringLiteral("profileexpiry")).toString()),
      provisionedDevices(map.value(QStringLiteral("provisioneddevices")).toString()),
      bundleID(map.value(QStringLiteral("bundleid")).toString()),
      latestUrl(map.value(QStringLiteral("latestUrl")).toString()) {}

Zapp::Zapp(const PackageRecord& package, const QDateTime& now)
    : appname(package.name), appicon(package.icon), appversion(package.version),
      appdate(now.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm"))), appsize(package.size),
      appMinOS(package.minOS), qrLink(package.QR), bundleID(package.bundleID) {}
