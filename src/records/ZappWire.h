#pragma once

#include <QString>
#include <QStringList>

// What the client, the server and the public pages must spell alike about an app: the keys of
// the createapp body, the Android id suffix and the public link.
namespace ZappWire {

// The createapp body's keys, in the order the client writes them. (The app list answers with
// "minOS" and "QRLink" instead; Zapp's map constructor reads those.)
inline const QString userid = QStringLiteral("userid");
inline const QString appname = QStringLiteral("appname");
inline const QString appicon = QStringLiteral("appicon");
inline const QString appversion = QStringLiteral("appversion");
inline const QString appurl = QStringLiteral("appurl");
inline const QString appid = QStringLiteral("appid");
inline const QString appdate = QStringLiteral("appdate");
inline const QString appsize = QStringLiteral("appsize");
inline const QString minos = QStringLiteral("minos");
inline const QString qrLink = QStringLiteral("qrLink");
inline const QString appdescription = QStringLiteral("appdescription");
inline const QStringList createAppKeys = {userid,  appname, appicon, appversion, appurl,        appid,
                                          appdate, appsize, minos,   qrLink,     appdescription};

// Optional keys of createapp and the app list, sent only when known: what the install page
// tells testers about an iOS build's provisioning profile.
inline const QString profilekind = QStringLiteral("profilekind");
inline const QString profileexpiry = QStringLiteral("profileexpiry");
inline const QString provisioneddevices = QStringLiteral("provisioneddevices");
inline const QStringList optionalAppKeys = {profilekind, profileexpiry, provisioneddevices};
// The profile's devices themselves (DeviceCheck.h), optional too; never in the app list.
inline const QString provisioneddeviceids = QStringLiteral("provisioneddeviceids");

// Optional key of createapp and the app list: the inspected bundle id (iOS) or package name
// (Android). Builds of one owner, bundle id and platform share a stable link, which createapp
// answers and the app list carries as latestUrl.
inline const QString bundleid = QStringLiteral("bundleid");
inline const QString latestUrl = QStringLiteral("latestUrl");
// The stable link of an app: the base URL, "l/" and the key the builds share.
inline QString latestLink(const QString& baseUrl, const QString& key) {
    return baseUrl + QStringLiteral("l/") + key;
}

// Release notes (appdescription) are at most this many characters (code points, so an emoji
// counts once).
constexpr qsizetype maxNotesCharacters = 4000;
inline qsizetype characterCount(const QString& text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return n;
}

// Android apps are registered under their id with this suffix; their public page drops it.
inline const QString androidSuffix = QStringLiteral("__android");
inline bool isAndroid(const QString& id) {
    return id.endsWith(androidSuffix);
}

// The public page of an app: the base URL (ending in "/") and the id without the Android suffix.
inline QString publicLink(const QString& baseUrl, const QString& id) {
    return baseUrl + QString(id).remove(androidSuffix);
}

} // namespace ZappWire
