#include "inspect/Preflight.h"

#include "core/EnglishDate.h"
#include "records/DeviceCheck.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

using Verdict = PreflightFinding::Verdict;

// Within this many days of its expiry a profile gets a warning: testers install days later.
constexpr int expirySoonDays = 14;

QString devicesText(int count) {
    return count == 1 ? QStringLiteral("the one device") : QStringLiteral("the %1 devices").arg(count);
}

QString isoDate(const QDateTime& time) {
    return time.isValid() ? time.toUTC().date().toString(Qt::ISODate) : QString();
}

void profileFindings(const ProvisioningProfile& p, const QString& bundleId, const QDateTime& now,
                     QList<PreflightFinding>& out) {
    using Kind = ProvisioningProfile::Kind;
    switch (p.kind) {
    case Kind::AppStore:
        out.append({QStringLiteral("profile-app-store"), Verdict::blocking,
                    QStringLiteral("This build uses an App Store profile: it can only be installed through "
                                   "the App Store, not from a link.")});
        break;
    case Kind::Enterprise:
        out.append({QStringLiteral("profile-enterprise"), Verdict::ok,
                    QStringLiteral("This build uses an in-house (enterprise) profile: it installs on any "
                                   "device that trusts your organisation.")});
        break;
    case Kind::AdHoc:
        out.append({QStringLiteral("profile-ad-hoc"), Verdict::warning,
                    QStringLiteral("This build installs only on %1 listed in its profile.")
                        .arg(devicesText(p.deviceCount))});
        break;
    case Kind::Development:
        out.append({QStringLiteral("profile-development"), Verdict::warning,
                    QStringLiteral("This is a development build: it installs only on %1 listed in its "
                                   "profile.")
                        .arg(devicesText(p.deviceCount))});
        break;
    }

    if (p.expirationDate.isValid()) {
        const QString day = Preflight::dateText(p.expirationDate.toUTC().date());
        if (p.expirationDate <= now)
            out.append({QStringLiteral("profile-expired"), Verdict::blocking,
                        QStringLiteral("The profile expired on %1: the app will not open.").arg(day)});
        else if (p.expirationDate <= now.addDays(expirySoonDays))
            out.append({QStringLiteral("profile-expires-soon"), Verdict::warning,
                        QStringLiteral("The profile expires on %1: after that day the app will not open.")
                            .arg(day)});
        else
            out.append({QStringLiteral("profile-valid"), Verdict::ok,
                        QStringLiteral("The profile is valid until %1.").arg(day)});
    }

    // The app is signed with one of the listed certificates; only when all have run out is
    // the build sure to fail.
    if (!p.certificateExpiries.isEmpty()) {
        QDateTime latest = p.certificateExpiries.constFirst();
        for (const QDateTime& t : p.certificateExpiries)
            latest = std::max(latest, t);
        if (latest <= now)
            out.append({QStringLiteral("certificate-expired"), Verdict::blocking,
                        QStringLiteral("The signing certificate expired on %1: the app will not install.")
                            .arg(Preflight::dateText(latest.toUTC().date()))});
    }

    if (p.appIdentifier.isEmpty() || bundleId.isEmpty())
        return;
    if (p.matchesBundle(bundleId))
        out.append({QStringLiteral("app-id-match"), Verdict::ok,
                    QStringLiteral("The profile is made for this app (%1).").arg(p.appIdentifier)});
    else
        out.append(
            {QStringLiteral("app-id-mismatch"), Verdict::blocking,
             QStringLiteral("The profile is made for %1, not for this app (%2): the install will fail.")
                 .arg(p.appIdentifier, bundleId)});
}

} // namespace

QString PreflightFinding::verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::ok:
        return QStringLiteral("ok");
    case Verdict::warning:
        return QStringLiteral("warning");
    case Verdict::blocking:
        break;
    }
    return QStringLiteral("blocking");
}

bool Preflight::blocking() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const PreflightFinding& f) { return f.verdict == Verdict::blocking; });
}

QStringList Preflight::messages(PreflightFinding::Verdict verdict) const {
    QStringList out;
    for (const PreflightFinding& f : findings) {
        if (f.verdict == verdict)
            out << f.message;
    }
    return out;
}

const PreflightFinding* Preflight::find(const QString& code) const {
    for (const PreflightFinding& f : findings) {
        if (f.code == code)
            return &f;
    }
    return nullptr;
}

QJsonObject Preflight::toJson() const {
    QJsonArray list;
    for (const PreflightFinding& f : findings)
        list.append(QJsonObject{{QStringLiteral("code"), f.code},
                                {QStringLiteral("verdict"), PreflightFinding::verdictName(f.verdict)},
                                {QStringLiteral("message"), f.message}});
    QJsonObject object{{QStringLiteral("blocking"), blocking()}, {QStringLiteral("findings"), list}};
    if (profile) {
        const auto time = [](const QDateTime& t) {
            return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
        };
        object.insert(QStringLiteral("profile"),
                      QJsonObject{{QStringLiteral("kind"), ProvisioningProfile::kindKey(profile->kind)},
                                  {QStringLiteral("name"), profile->name},
                                  {QStringLiteral("teamName"), profile->teamName},
                                  {QStringLiteral("teamIdentifier"), profile->teamIdentifier},
                                  {QStringLiteral("appIdentifier"), profile->appIdentifier},
                                  {QStringLiteral("creationDate"), time(profile->creationDate)},
                                  {QStringLiteral("expirationDate"), time(profile->expirationDate)},
                                  {QStringLiteral("provisionedDevices"), profile->deviceCount}});
    }
    return object;
}

QString Preflight::recordProfileKind() const {
    return profile ? ProvisioningProfile::kindKey(profile->kind) : QString();
}

QString Preflight::recordProfileExpiry() const {
    return profile ? isoDate(profile->expirationDate) : QString();
}

QString Preflight::recordProvisionedDevices() const {
    using Kind = ProvisioningProfile::Kind;
    if (!profile || (profile->kind != Kind::AdHoc && profile->kind != Kind::Development))
        return {};
    return QString::number(profile->deviceCount);
}

QString Preflight::recordProvisionedDeviceIds() const {
    using Kind = ProvisioningProfile::Kind;
    if (!profile || (profile->kind != Kind::AdHoc && profile->kind != Kind::Development))
        return {};
    return DeviceIds::join(profile->deviceIds);
}

Preflight Preflight::forIos(const QVariantMap& info, const std::optional<QByteArray>& profileBytes,
                            bool hasSignature, const QDateTime& now) {
    Preflight result;
    QList<PreflightFinding>& out = result.findings;
    bool simulator = false;
    for (const QVariant& platform : info.value(QStringLiteral("CFBundleSupportedPlatforms")).toList())
        simulator =
            simulator || platform.toString().contains(QLatin1String("Simulator"), Qt::CaseInsensitive);
    if (simulator)
        out.append(
            {QStringLiteral("simulator-build"), Verdict::blocking,
             QStringLiteral("This is a simulator build: it runs only in Xcode's simulator and installs "
                            "on no iPhone or iPad.")});
    else if (!profileBytes && !hasSignature)
        out.append({QStringLiteral("simulator-build"), Verdict::blocking,
                    QStringLiteral("This build has neither a provisioning profile nor a signature, like a "
                                   "simulator build: it installs on no iPhone or iPad.")});
    if (!hasSignature)
        out.append({QStringLiteral("unsigned"), Verdict::blocking,
                    QStringLiteral("This build is not signed: iPhones and iPads refuse to install it.")});
    if (!profileBytes) {
        if (hasSignature && !simulator)
            out.append({QStringLiteral("profile-missing"), Verdict::blocking,
                        QStringLiteral("This build carries no provisioning profile: iPhones and iPads refuse "
                                       "to install it from a link.")});
        return result;
    }
    result.profile = ProvisioningProfile::read(*profileBytes);
    if (!result.profile) {
        out.append({QStringLiteral("profile-unreadable"), Verdict::warning,
                    QStringLiteral("The provisioning profile could not be read, so Vantry cannot tell where "
                                   "this build installs.")});
        return result;
    }
    const QVariant bundleId = info.value(QStringLiteral("CFBundleIdentifier"));
    profileFindings(*result.profile,
                    bundleId.typeId() == QMetaType::QString ? bundleId.toString() : QString(), now, out);
    return result;
}

Preflight Preflight::forAndroid(const QString& badging) {
    Preflight result;
    static const QRegularExpression split(QStringLiteral("^package: .*\\bsplit='([^']*)'"),
                                          QRegularExpression::MultilineOption);
    static const QRegularExpression debuggable(QStringLiteral("^application-debuggable\\s*$"),
                                               QRegularExpression::MultilineOption);
    static const QRegularExpression nativeCode(QStringLiteral("^native-code:(.*)$"),
                                               QRegularExpression::MultilineOption);
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    if (const QRegularExpressionMatch m = split.match(badging); m.hasMatch())
        result.findings.append({QStringLiteral("split-apk"), Verdict::blocking,
                                QStringLiteral("This is a split APK (%1) without its base APK: it cannot be "
                                               "installed on its own.")
                                    .arg(m.captured(1))});
    if (debuggable.match(badging).hasMatch())
        result.findings.append({QStringLiteral("debuggable"), Verdict::warning,
                                QStringLiteral("This is a debug build: it installs, but it runs slower than "
                                               "the release will.")});
    if (const QRegularExpressionMatch m = nativeCode.match(badging); m.hasMatch()) {
        QStringList abis;
        for (auto it = quoted.globalMatch(m.captured(1)); it.hasNext();)
            abis << it.next().captured(1);
        if (!abis.isEmpty())
            result.findings.append({QStringLiteral("native-code"), Verdict::ok,
                                    QStringLiteral("It contains native code for %1: it installs only on "
                                                   "devices with one of these processors.")
                                        .arg(abis.join(QStringLiteral(", ")))});
    }
    return result;
}

Preflight Preflight::forAppBundle() {
    Preflight result;
    result.findings.append({QStringLiteral("app-bundle"), Verdict::blocking,
                            QStringLiteral("This is an Android App Bundle (.aab) renamed to .apk: phones "
                                           "cannot install it from a link.")});
    return result;
}

QString Preflight::dateText(const QDate& date) {
    return englishDate(date);
}
