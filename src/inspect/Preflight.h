#pragma once

#include "inspect/ProvisioningProfile.h"

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

// Whether a package can install from a link at all, told before anything is uploaded: each
// finding has a stable code, a verdict and one sentence a tester understands.
struct PreflightFinding {
    enum class Verdict { ok, warning, blocking };

    QString code; // "profile-app-store", "unsigned", "debuggable", …
    Verdict verdict = Verdict::ok;
    QString message;

    static QString verdictName(Verdict verdict);
    bool operator==(const PreflightFinding&) const = default;
};

struct Preflight {
    QList<PreflightFinding> findings;
    std::optional<ProvisioningProfile> profile; // iOS packages that carry a readable one

    bool blocking() const;
    // The messages of the findings with this verdict, in order.
    QStringList messages(PreflightFinding::Verdict verdict) const;
    const PreflightFinding* find(const QString& code) const;

    // {"blocking": bool, "findings": [{code, verdict, message}], "profile": {…}}
    QJsonObject toJson() const;

    // What the app record carries for the install page: the profile kind key, the expiry date
    // (ISO 8601, yyyy-MM-dd) and the device count as text ("" when the profile lists none).
    QString recordProfileKind() const;
    QString recordProfileExpiry() const;
    QString recordProvisionedDevices() const;
    // The devices themselves, comma-separated, for development and ad hoc profiles whose every
    // entry is a UDID ("" otherwise): what the install page checks a tester's device against.
    QString recordProvisionedDeviceIds() const;

    // An iOS package: its Info.plist, the bytes of its embedded.mobileprovision (nothing when
    // it has none) and whether the bundle has a _CodeSignature folder, judged at now.
    static Preflight forIos(const QVariantMap& info, const std::optional<QByteArray>& profileBytes,
                            bool hasSignature, const QDateTime& now);
    // An Android package from aapt's badging text.
    static Preflight forAndroid(const QString& badging);
    // An Android App Bundle handed over as an .apk.
    static Preflight forAppBundle();

    // "3 May 2026": English, whatever the locale.
    static QString dateText(const QDate& date);
};
