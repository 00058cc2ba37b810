// Provisioning profiles signed in the test with a throwaway key, read back through the DER walk,
// and the verdicts the preflight draws from them and from generated packages.
#include "inspect/Preflight.h"
#include "InspectionRun.h"
#include "inspect/PackageFactory.h"

using namespace testsupport;
using Verdict = PreflightFinding::Verdict;

namespace {

const QDateTime kNow(QDate(2026, 4, 1), QTime(12, 0), QTimeZone::utc());

QVariantMap info(const QString& platform = "iPhoneOS") {
    return {{"CFBundleIdentifier", "com.example.app"},
            {"CFBundleShortVersionString", "1.0"},
            {"CFBundleSupportedPlatforms", QVariantList{platform}}};
}

packages::Profile profile(const QString& kind, const QString& appId = "ABCDE12345.*") {
    packages::Profile p;
    p.kind = kind;
    p.appIdentifier = appId;
    p.devices = 12;
    return p;
}

// "code:verdict ..." of the findings in order.
QString codes(const Preflight& preflight) {
    QStringList out;
    for (const PreflightFinding& f : preflight.findings)
        out << f.code + ':' + PreflightFinding::verdictName(f.verdict);
    return out.join(' ');
}

} // namespace

TEST(ProvisioningProfile, EachKindReadThroughDerAndStreamedBer) {
    for (const char* kind : {"development", "ad-hoc", "enterprise", "app-store"}) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(std::string(kind) + (streamed ? " streamed" : " DER"));
            packages::Profile p = profile(QLatin1String(kind));
            p.streamed = streamed;
            const QByteArray bytes = packages::signedProfile(p);
            // The walk itself finds the property list, not the fallback search.
            EXPECT_EQ(Der::signedContent(bytes), packages::profilePlist(p));
            const auto read = ProvisioningProfile::read(bytes);
            ASSERT_TRUE(read.has_value());
            const bool listsDevices = QByteArray(kind) == "development" || QByteArray(kind) == "ad-hoc";
            EXPECT_EQ((QStringList{ProvisioningProfile::kindKey(read->kind),
                                   QString::number(read->deviceCount), read->teamName, read->teamIdentifier,
                                   read->appIdentifier, read->creationDate.toUTC().toString(Qt::ISODate),
                                   read->expirationDate.toUTC().toString(Qt::ISODate)}),
                      (QStringList{kind, listsDevices ? "12" : "0", "Example Corp", "ABCDE12345",
                                   "ABCDE12345.*", "2025-02-01T09:30:00Z", "2035-01-01T00:00:00Z"}));
        }
    }
}

TEST(ProvisioningProfile, BrokenInputAndCertificateDates) {
    packages::Profile p = profile("ad-hoc");
    p.withCertificate = true;
    const QByteArray bytes = packages::signedProfile(p);
    ASSERT_FALSE(bytes.isEmpty());
    // Every truncation and a flipped length byte fail cleanly (no read past the end).
    for (qsizetype n = 0; n < bytes.size(); n += 7)
        EXPECT_FALSE(Der::signedContent(QByteArrayView(bytes).first(n)).has_value()) << n;
    QByteArray flipped = bytes;
    flipped[1] = char(0x84);
    EXPECT_FALSE(Der::signedContent(flipped).has_value());
    // Something that is no CMS message but holds the list is still read; junk is not.
    EXPECT_TRUE(
        ProvisioningProfile::read("junk\x01\x02" + packages::profilePlist(p) + "\x00tail").has_value());
    EXPECT_FALSE(ProvisioningProfile::read(QByteArray("\x30\x80\x30\x80", 4)).has_value());
    EXPECT_FALSE(ProvisioningProfile::read("<?xml version=\"1.0\"?><plist><string>x</string></plist>"));

    QDateTime expected =
        QDateTime::fromString(packages::signingCertificateEnd().simplified(), "MMM d HH:mm:ss yyyy 'GMT'");
    expected.setTimeZone(QTimeZone::utc());
    EXPECT_EQ(ProvisioningProfile::read(bytes).value_or(ProvisioningProfile()).certificateExpiries,
              QList<QDateTime>{expected});
}

TEST(ProvisioningProfile, AppIdentifierMatching) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // app id, matching, not matching
        {"ABCDE12345.*", "com.example.app", ""},
        {"ABCDE12345.com.example.*", "com.example.app com.example.app.widget",
         "com.example com.examples.app"},
        {"ABCDE12345.com.example.app", "com.example.app", "com.example.app2 com.example"}};
    for (const auto& [appId, matching, other] : cases) {
        ProvisioningProfile p;
        p.appIdentifier = appId;
        for (const QString& bundle : QString(matching).split(' '))
            EXPECT_TRUE(p.matchesBundle(bundle)) << appId << " " << bundle.toStdString();
        for (const QString& bundle : QString(other).split(' ', Qt::SkipEmptyParts))
            EXPECT_FALSE(p.matchesBundle(bundle)) << appId << " " << bundle.toStdString();
    }
}

TEST(Preflight, IosVerdicts) {
    const auto signedAs = [](const char* kind, const char* appId = "ABCDE12345.*",
                             QDate expiry = {2035, 1, 1}, bool withCertificate = false) {
        packages::Profile p = profile(QLatin1String(kind), QLatin1String(appId));
        p.expiration = QDateTime(expiry, QTime(10, 0), QTimeZone::utc());
        p.withCertificate = withCertificate;
        return std::optional<QByteArray>(packages::signedProfile(p));
    };
    const struct {
        const char* name;
        std::optional<QByteArray> profile;
        const char* expected;
        QVariantMap info = ::info();
        bool hasSignature = true;
        QDateTime now = kNow;
    } cases[] = {
        {"ad hoc", signedAs("ad-hoc"), "profile-ad-hoc:warning profile-valid:ok app-id-match:ok"},
        {"development", signedAs("development", "ABCDE12345.com.example.app"),
         "profile-development:warning profile-valid:ok app-id-match:ok"},
        {"enterprise, wildcard under a domain", signedAs("enterprise", "ABCDE12345.com.example.*"),
         "profile-enterprise:ok profile-valid:ok app-id-match:ok"},
        {"app store", signedAs("app-store"), "profile-app-store:blocking profile-valid:ok app-id-match:ok"},
        {"exact id of another app", signedAs("ad-hoc", "ABCDE12345.com.other.app"),
         "profile-ad-hoc:warning profile-valid:ok app-id-mismatch:blocking"},
        {"expired", signedAs("ad-hoc", "ABCDE12345.*", {2026, 3, 3}),
         "profile-ad-hoc:warning profile-expired:blocking app-id-match:ok"},
        {"expires soon", signedAs("enterprise", "ABCDE12345.*", {2026, 4, 10}),
         "profile-enterprise:ok profile-expires-soon:warning app-id-match:ok"},
        {"certificate run out", signedAs("enterprise", "ABCDE12345.*", {2035, 1, 1}, true),
         "profile-enterprise:ok profile-valid:ok certificate-expired:blocking app-id-match:ok", info(), true,
         kNow.addYears(5)},
        {"simulator", std::nullopt, "simulator-build:blocking unsigned:blocking", info("iPhoneSimulator"),
         false},
        {"unsigned, no profile", std::nullopt, "simulator-build:blocking unsigned:blocking", info(), false},
        {"signed, no profile", std::nullopt, "profile-missing:blocking"},
        {"profile unreadable", QByteArray("not a profile"), "profile-unreadable:warning"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Preflight preflight = Preflight::forIos(c.info, c.profile, c.hasSignature, c.now);
        EXPECT_EQ(codes(preflight), QLatin1String(c.expected));
        EXPECT_EQ(preflight.blocking(), QByteArray(c.expected).contains(":blocking"));
    }

    const Preflight adHoc = Preflight::forIos(info(), signedAs("ad-hoc"), true, kNow);
    EXPECT_EQ(adHoc.find("profile-ad-hoc")->message,
              "This build installs only on the 12 devices listed in its profile.");
    EXPECT_EQ((QStringList{adHoc.recordProfileKind(), adHoc.recordProfileExpiry(),
                           adHoc.recordProvisionedDevices()}),
              (QStringList{"ad-hoc", "2035-01-01", "12"}));
    // The job sends the profile's device ids all together, or none when one is not a device id.
    EXPECT_EQ(adHoc.recordProvisionedDeviceIds().split(',').size(), 12);
    EXPECT_TRUE(adHoc.recordProvisionedDeviceIds().startsWith("00008101-0000000000000000,"));
    packages::Profile odd = profile("ad-hoc");
    odd.deviceIds = {"00008030-001A35E11A88802E", 7};
    EXPECT_EQ(
        Preflight::forIos(info(), packages::signedProfile(odd), true, kNow).recordProvisionedDeviceIds(),
        QString());
    const Preflight gone =
        Preflight::forIos(info(), signedAs("ad-hoc", "ABCDE12345.*", {2026, 3, 3}), true, kNow);
    EXPECT_EQ(gone.find("profile-expired")->message,
              "The profile expired on 3 March 2026: the app will not open.");
    const Preflight store = Preflight::forIos(info(), signedAs("app-store"), true, kNow);
    EXPECT_EQ(store.messages(Verdict::blocking),
              QStringList{"This build uses an App Store profile: it can only be installed through the App "
                          "Store, not from a link."});
    EXPECT_EQ(store.recordProvisionedDevices() + store.recordProvisionedDeviceIds(), QString());
}

TEST(Preflight, InspectedPackages) {
    const QString dir = makeTempDir("preflight");
    const auto ipa = [&](const QString& name, QMap<QString, QByteArray> files) {
        files.insert("Payload/Demo.app/Info.plist", packages::xmlPlist(info()));
        return packages::zipFiles(dir + '/' + name, files);
    };
    packages::AndroidApp debug;
    debug.debuggable = true;
    debug.nativeAbis = {"arm64-v8a", "x86_64"};
    packages::AndroidApp split;
    split.split = "config.arm64_v8a";
    const std::pair<QString, const char*> cases[] = {
        {ipa("adhoc.ipa",
             {{"Payload/Demo.app/embedded.mobileprovision", packages::signedProfile(profile("ad-hoc"))},
              {"Payload/Demo.app/_CodeSignature/CodeResources", "<plist/>"}}),
         "profile-ad-hoc:warning profile-valid:ok app-id-match:ok"},
        {ipa("unsigned.ipa", {}), "simulator-build:blocking unsigned:blocking"},
        {packages::buildApk(dir + "/debug.apk", debug), "debuggable:warning native-code:ok"},
        {packages::buildApk(dir + "/split.apk", split), "split-apk:blocking"},
        {packages::buildApk(dir + "/release.apk", {}), ""},
        {packages::zipFiles(dir + "/bundle.apk", {{"BundleConfig.pb", QByteArray("\x0a\x00", 2)},
                                                  {"base/manifest/AndroidManifest.xml", "\x0a"},
                                                  {"base/dex/classes.dex", "dex\n035"}}),
         "app-bundle:blocking"},
    };
    for (const auto& [package, expected] : cases) {
        SCOPED_TRACE(package.toStdString());
        Inspector* inspector = inspectorFor(package);
        if (auto* ios = dynamic_cast<ParseIPA*>(inspector))
            ios->clock = [] { return kNow; };
        const Outcome o = inspectPackage(inspector, package);
        EXPECT_TRUE(o.record.has_value()) << o.failure.toStdString();
        EXPECT_EQ(codes(o.preflight), expected);
        EXPECT_EQ(o.preflight.blocking(), QByteArray(expected).contains(":blocking"));
        const QString native =
            "It contains native code for arm64-v8a, x86_64: it installs only on devices with "
            "one of these processors.";
        EXPECT_EQ(o.preflight.find("native-code") ? o.preflight.find("native-code")->message : native,
                  native);
    }
}
