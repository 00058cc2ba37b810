#pragma once

#include "plist/Der.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The facts of an iOS provisioning profile (embedded.mobileprovision): a CMS signed message
// whose content is an XML property list. The signature is not checked, only read past: the
// phone checks it anyway, and what matters here is what the profile says.
struct ProvisioningProfile {
    enum class Kind { Development, AdHoc, Enterprise, AppStore };

    Kind kind = Kind::AppStore;
    QString name;
    QString teamName;
    QString teamIdentifier;
    QString appIdentifier;    // "TEAMID.com.example.app", "TEAMID.com.example.*" or "TEAMID.*"
    QDateTime creationDate;   // UTC; invalid when the profile has none
    QDateTime expirationDate; // UTC; invalid when the profile has none
    int deviceCount = 0;      // ProvisionedDevices
    QStringList deviceIds;    // ProvisionedDevices as listed ("" for an entry that is no text)
    bool getTaskAllow = false;
    // notAfter of each developer certificate the profile names, where it could be read.
    QList<QDateTime> certificateExpiries;

    // "development", "ad-hoc", "enterprise", "app-store": stable keys for scripts and records.
    static QString kindKey(Kind kind);

    // The profile in a .mobileprovision file; nothing when no property list with at least an
    // expiration date or an entitlement can be found in it.
    static std::optional<ProvisioningProfile> read(QByteArrayView fileBytes);

    // Whether the profile's application identifier covers this bundle identifier: the team
    // prefix is dropped, then "*" matches everything and a trailing ".*" any name under it.
    bool matchesBundle(const QString& bundleId) const;
};
