// Provisioning profiles signed in the test with a throwaway key, read back through the DER walk,
// and the verdicts the preflight draws from them and from generated packages.
#include "inspect/Preflight.h"
#include "InspectionRun.h"
#include "inspect/PackageFactory.h"
#include "inspect/ParseAPK.h"
#include "inspect/ParseIPA.h"

using namespace testsupport;
using Verdict = PreflightFinding::Verdict;

namespace {

const QDateTime kNow(QDate(2026, 4, 1), QTime(12, 0), QTimeZone::utc());

QVariantMap info(const QString& bundleId = QStringLiteral("com.example.app"),
                 const QString& platform = "iPhoneOS") {
    return {{QStringLiteral("CFBundleIdentifier"), bundleId},
            {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
            {QStringLiteral("CFBundleSupportedPlatforms"), QVariantList{platform}}};
}

packages::Profile profile(const QString& kind, const QString& appId = QStringLiteral("ABCDE12345.*")) {
    packages::Profile p;
    p.kind = kind;
    p.appIdentifier = appId;
    p.devices = 12;
    return p;
}

QStringList codes(const Preflight& preflight) {
    QStringList out;
    for (const PreflightFinding& f : preflight.findings)
        out << f.code + QLatin1Char(':') + PreflightFinding::verdictName(f.verdict);
    return out;
}

} // namespace

TEST(ProvisioningProfile, EachKindReadThroughDerAndStreamedBer) {
    const struct {
        const char* kind;
        ProvisioningProfile::Kind expected;
        int devices;
    } cases[] = {{"development", ProvisioningProfile::Kind::Development, 12},
                 {"ad-hoc", ProvisioningProfile::Kind::AdHoc, 12},
                 {"enterprise", ProvisioningProfile::Kind::Enterprise, 0},
                 {"app-store", ProvisioningProfile::Kind::AppStore, 0}};
    for (const auto& c : cases) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(std::string(c.kind) + (streamed ? " streamed" : " DER"));
            packages::Profile p = profile(QLatin1String(c.kind));
            p.streamed = streamed;
            const QByteArray bytes = packages::signedProfile(p);
            ASSERT_FALSE(bytes.isEmpty());
            // The walk itself finds the property list, not the fallback search.
            const auto content = Der::signedContent(bytes);
            ASSERT_TRUE(content.has_value());
            EXPECT_EQ(*content, packages::profilePlist(p));
            const auto read = ProvisioningProfile::read(bytes);
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(read->kind, c.expected);
            EXPECT_EQ(ProvisioningProfile::kindKey(read->kind), QLatin1String(c.kind));
            EXPECT_EQ(read->deviceCount, c.devices);
            EXPECT_EQ(read->teamName, QStringLiteral("Example Corp"));
            EXPECT_EQ(read->teamIdentifier, QStringLiteral("ABCDE12345"));
            EXPECT_EQ(read->appIdentifier, QStringLiteral("ABCDE12345.*"));
            EXPECT_EQ(read->creationDate, QDateTime(QDate(2025, 2, 1), QTime(9, 30), QTimeZone::utc()));
            EXPECT_EQ(read->expirationDate, p.expiration);
        }
    }
}

TEST(ProvisioningProfile, BrokenInputAndCertificateDates) {
    packages::Profile p = profile(QStringLiteral("ad-hoc"));
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

    const auto read = ProvisioningProfile::read(bytes);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->certificateExpiries.size(), 1);
    const QDateTime expected = QDateTime::fromString(packages::signingCertificateEnd().simplified(),
                                                     QStringLiteral("MMM d HH:mm:ss yyyy 'GMT'"));
    EXPECT_EQ(read->certificateExpiries.constFirst(),
              QDateTime(expected.date(), expected.time(), QTimeZone::utc()));
}

TEST(ProvisioningProfile, AppIdentifierMatching) {
    const struct {
        const char* appId;
        const char* bundle;
        bool matches;
    } cases[] = {{"ABCDE12345.*", "com.example.app", true},
                 {"ABCDE12345.com.example.*", "com.example.app", true},
                 {"ABCDE12345.com.example.*", "com.example.app.widget", true},
                 {"ABCDE12345.com.example.*", "com.example", false},
                 {"ABCDE12345.com.example.*", "com.examples.app", false},
                 {"ABCDE12345.com.example.app", "com.example.app", true},
                 {"ABCDE12345.com.example.app", "com.example.app2", false},
                 {"ABCDE12345.com.example.app", "com.example", false}};
    for (const auto& c : cases) {
        ProvisioningProfile p;
        p.appIdentifier = QLatin1String(c.appId);
        EXPECT_EQ(p.matchesBundle(QLatin1String(c.bundle)), c.matches) << c.appId << " " << c.bundle;
    }
}

TEST(Preflight, IosVerdicts) {
    const auto signedWith = [](const packages::Profile& p) { return packages::signedProfile(p); };
    packages::Profile expired = profile(QStringLiteral("ad-hoc"));
    expired.expiration = QDateTime(QDate(2026, 3, 3), QTime(10, 0), QTimeZone::utc());
    packages::Profile soon = profile(QStringLiteral("enterprise"));
    soon.expiration = QDateTime(QDate(2026, 4, 10), QTime(10, 0), QTimeZone::utc());
    packages::Profile expiredCertificate = profile(QStringLiteral("enterprise"));
    expiredCertificate.withCertificate = true;
    const struct {
        const char* name;
        QVariantMap info;
        std::optional<QByteArray> profile;
        bool hasSignature;
        QDateTime now;
        QStringList expected;
    } cases[] = {
        {"ad hoc",
         info(),
         signedWith(profile("ad-hoc")),
         true,
         kNow,
         {"profile-ad-hoc:warning", "profile-valid:ok", "app-id-match:ok"}},
        {"development",
         info(),
         signedWith(profile("development", "ABCDE12345.com.example.app")),
         true,
         kNow,
         {"profile-development:warning", "profile-valid:ok", "app-id-match:ok"}},
        {"enterprise, wildcard under a domain",
         info(),
         signedWith(profile("enterprise", "ABCDE12345.com.example.*")),
         true,
         kNow,
         {"profile-enterprise:ok", "profile-valid:ok", "app-id-match:ok"}},
        {"app store",
         info(),
         signedWith(profile("app-store")),
         true,
         kNow,
         {"profile-app-store:blocking", "profile-valid:ok", "app-id-match:ok"}},
        {"exact id of another app",
         info(),
         signedWith(profile("ad-hoc", "ABCDE12345.com.other.app")),
         true,
         kNow,
         {"profile-ad-hoc:warning", "profile-valid:ok", "app-id-mismatch:blocking"}},
        {"expired",
         info(),
         signedWith(expired),
         true,
         kNow,
         {"profile-ad-hoc:warning", "profile-expired:blocking", "app-id-match:ok"}},
        {"expires soon",
         info(),
         signedWith(soon),
         true,
         kNow,
         {"profile-enterprise:ok", "profile-expires-soon:warning", "app-id-match:ok"}},
        {"certificate run out",
         info(),
         signedWith(expiredCertificate),
         true,
         kNow.addYears(5),
         {"profile-enterprise:ok", "profile-valid:ok", "certificate-expired:blocking", "app-id-match:ok"}},
        {"simulator",
         info("com.example.app", "iPhoneSimulator"),
         std::nullopt,
         false,
         kNow,
         {"simulator-build:blocking", "unsigned:blocking"}},
        {"unsigned, no profile",
         info(),
         std::nullopt,
         false,
         kNow,
         {"simulator-build:blocking", "unsigned:blocking"}},
        {"signed, no profile", info(), std::nullopt, true, kNow, {"profile-missing:blocking"}},
        {"profile unreadable",
         info(),
         QByteArray("not a profile"),
         true,
         kNow,
         {"profile-unreadable:warning"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Preflight preflight = Preflight::forIos(c.info, c.profile, c.hasSignature, c.now);
        EXPECT_EQ(codes(preflight), c.expected);
        EXPECT_EQ(preflight.blocking(), c.expected.join(' ').contains(QLatin1String(":blocking")));
    }

    const Preflight adHoc = Preflight::forIos(info(), signedWith(profile("ad-hoc")), true, kNow);
    EXPECT_EQ(adHoc.find("profile-ad-hoc")->message,
              QStringLiteral("This build installs only on the 12 devices listed in its profile."));
    EXPECT_EQ(adHoc.recordProfileKind(), QStringLiteral("ad-hoc"));
    EXPECT_EQ(adHoc.recordProfileExpiry(), QStringLiteral("2035-01-01"));
    EXPECT_EQ(adHoc.recordProvisionedDevices(), QStringLiteral("12"));
    const Preflight gone = Preflight::forIos(info(), signedWith(expired), true, kNow);
    EXPECT_EQ(gone.find("profile-expired")->message,
              QStringLiteral("The profile expired on 3 March 2026: the app will not open."));
    const Preflight store = Preflight::forIos(info(), signedWith(profile("app-store")), true, kNow);
    EXPECT_EQ(store.messages(Verdict::blocking),
              QStringList{"This build uses an App Store profile: it can only be installed through the App "
                          "Store, not from a link."});
    EXPECT_EQ(store.recordProvisionedDevices(), QString());
    EXPECT_EQ(Preflight::dateText(QDate(2026, 5, 3)), QStringLiteral("3 May 2026"));
}

// What the job sends of the profile's devices: all of them, or nothing when one is not a device id.
TEST(Preflight, DeviceIdsGoOutWholeOrNotAtAll) {
    const QString udid = QStringLiteral("00008030-001A35E11A88802E");
    const QString old = QStringLiteral("0123456789abcdef0123456789ABCDEF01234567");
    const struct {
        const char* kind;
        QVariantList ids;
        QString sent;
    } cases[] = {
        {"ad-hoc", {udid, old}, udid + ',' + old},
        {"development", {udid}, udid},
        {"ad-hoc", {udid, "not-a-device"}, {}},
        {"ad-hoc", {udid, 7}, {}},
        {"ad-hoc", {udid.toLower().replace('-', ':')}, {}},
        {"ad-hoc", {old + '0'}, {}},
        {"ad-hoc", QVariantList(1001, udid), {}},
        {"enterprise", {udid}, {}},
    };
    for (const auto& c : cases) {
        packages::Profile p = profile(QLatin1String(c.kind));
        p.deviceIds = c.ids;
        EXPECT_EQ(
            Preflight::forIos(info(), packages::signedProfile(p), true, kNow).recordProvisionedDeviceIds(),
            c.sent)
            << c.kind << ' ' << c.ids.size();
    }
    EXPECT_EQ(Preflight::forIos(info(), packages::signedProfile(profile("ad-hoc")), true, kNow)
                  .recordProvisionedDeviceIds()
                  .count(','),
              11);
}

TEST(Preflight, InspectedPackages) {
    const QString dir = makeTempDir(QStringLiteral("preflight"));
    const auto ipa = [&](const QString& name, const QMap<QString, QByteArray>& extra) {
        QMap<QString, QByteArray> files{{"Payload/Demo.app/Info.plist", packages::xmlPlist(info())}};
        files.insert(extra);
        return packages::zipFiles(dir + QLatin1Char('/') + name, files);
    };
    const QString adHoc =
        ipa("adhoc.ipa",
            {{"Payload/Demo.app/embedded.mobileprovision", packages::signedProfile(profile("ad-hoc"))},
             {"Payload/Demo.app/_CodeSignature/CodeResources", "<plist/>"}});
    const auto preflightOf = [](Inspector* i, const QString& path) {
        const Outcome o = inspectPackage(i, path);
        EXPECT_TRUE(o.record.has_value()) << o.failure.toStdString();
        return o.preflight;
    };
    auto* inspector = new ParseIPA;
    inspector->clock = [] { return kNow; };
    EXPECT_EQ(codes(preflightOf(inspector, adHoc)),
              (QStringList{"profile-ad-hoc:warning", "profile-valid:ok", "app-id-match:ok"}));
    EXPECT_EQ(codes(preflightOf(new ParseIPA, ipa("unsigned.ipa", {}))),
              (QStringList{"simulator-build:blocking", "unsigned:blocking"}));

    packages::AndroidApp debug;
    debug.debuggable = true;
    debug.nativeAbis = {QStringLiteral("arm64-v8a"), QStringLiteral("x86_64")};
    const Preflight debugFindings = preflightOf(new ParseAPK, packages::buildApk(dir + "/debug.apk", debug));
    EXPECT_EQ(codes(debugFindings), (QStringList{"debuggable:warning", "native-code:ok"}));
    EXPECT_EQ(
        debugFindings.find("native-code")->message,
        QStringLiteral("It contains native code for arm64-v8a, x86_64: it installs only on devices with "
                       "one of these processors."));
    EXPECT_FALSE(debugFindings.blocking());

    packages::AndroidApp split;
    split.split = QStringLiteral("config.arm64_v8a");
    EXPECT_EQ(codes(preflightOf(new ParseAPK, packages::buildApk(dir + "/split.apk", split))),
              QStringList{"split-apk:blocking"});
    EXPECT_EQ(codes(preflightOf(new ParseAPK, packages::buildApk(dir + "/release.apk", {}))), QStringList{});

    const QString aab =
        packages::zipFiles(dir + "/bundle.apk", {{"BundleConfig.pb", "\x0a\x00"},
                                                 {"base/manifest/AndroidManifest.xml", "\x0a"},
                                                 {"base/dex/classes.dex", "dex\n035"}});
    EXPECT_EQ(codes(preflightOf(new ParseAPK, aab)), QStringList{"app-bundle:blocking"});
}
