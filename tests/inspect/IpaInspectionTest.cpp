#include "InspectionRun.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "inspect/ParseIPA.h"

#include <QDir>
#include <QFile>
#include <QImage>

using namespace testsupport;

namespace {

QVariantMap baseInfo() {
    return {{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.app")},
            {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")},
            {QStringLiteral("CFBundleVersion"), QStringLiteral("20")},
            {QStringLiteral("CFBundleDisplayName"), QStringLiteral("Shown")},
            {QStringLiteral("CFBundleName"), QStringLiteral("Plain")},
            {QStringLiteral("MinimumOSVersion"), QStringLiteral("13.0")}};
}

QVariantMap iconKeys(const QVariant& primary) {
    return {{QStringLiteral("CFBundlePrimaryIcon"), primary}};
}

QVariantMap iconFiles(const QStringList& names) {
    return {{QStringLiteral("CFBundleIconFiles"), QVariant(names).toList()}};
}

QString makeIpa(const QString& name, const QVariantMap& info, bool binary,
                QMap<QString, QByteArray> files = {}) {
    QMap<QString, QByteArray> entries;
    for (auto it = files.begin(); it != files.end(); ++it)
        entries.insert(QStringLiteral("Payload/Demo.app/") + it.key(), it.value());
    entries.insert(QStringLiteral("Payload/Demo.app/Info.plist"),
                   binary ? packages::binaryPlist(info) : packages::xmlPlist(info));
    return packages::zipFiles(homeDir() + QStringLiteral("/pkgs/") + name, entries);
}

QString bundle() {
    return workingFolder() + QStringLiteral("/Payload/Demo.app/");
}

} // namespace

TEST(IpaInspection, FieldsFallbacksAndIconChoice) {
    struct Case {
        const char* name;
        QVariantMap changes; // an invalid QVariant removes the key
        bool binary;
        QMap<QString, QByteArray> files;
        PackageRecord expected; // icon relative to the bundle
    };
    const QByteArray cgbi = readFile(dataPath(QStringLiteral("ipa/cgbi/AppIcon57.cgbi.png")));
    const QByteArray png = readFile(dataPath(QStringLiteral("ipa/cgbi/icon96.standard.png")));
    const QVariant twoIcons =
        iconKeys(iconFiles({QStringLiteral("AppIcon60x60"), QStringLiteral("AppIcon76x76")}));
    const auto shown = [](const char* icon) {
        return PackageRecord{"com.example.app", "2.0", "Shown", icon, "", "13.0", ""};
    };
    const QVariant none;
    const Case cases[] = {
        {"xml", {}, false, {}, shown("")},
        {"binary-fallbacks",
         {{"CFBundleShortVersionString", none}, {"CFBundleDisplayName", 5}, {"MinimumOSVersion", none}},
         true,
         {},
         {"com.example.app", "20", "Plain", "", "", "10", ""}},
        {"no-version-non-text-id",
         {{"CFBundleShortVersionString", none}, {"CFBundleVersion", none}, {"CFBundleIdentifier", 7}},
         true,
         {},
         {"", "", "Shown", "", "", "13.0", ""}},
        {"icon-png",
         {{"CFBundleIcons", twoIcons}},
         false,
         {{"AppIcon60x60.png", png}, {"AppIcon60x60@2x.png", png}},
         shown("AppIcon60x60.png")},
        {"icon-cgbi-2x",
         {{"CFBundleIcons", twoIcons}},
         true,
         {{"AppIcon60x60@2x.png", cgbi}, {"AppIcon76x76.png", png}},
         shown("AppIcon60x60@2x.png")},
        {"icon-untested-ipad",
         {{"CFBundleIcons", twoIcons}},
         false,
         {{"AppIcon76x76@2x.png", png}},
         shown("AppIcon60x60@2x~ipad.png")},
        {"icon-png-name-not-image",
         {{"CFBundleIcons", iconKeys(iconFiles({QStringLiteral("Icon.png")}))}},
         false,
         {{"Icon.png", "not an image"}},
         shown("Icon.png")},
        {"icon-primary-is-text",
         {{"CFBundleIcons", iconKeys(QStringLiteral("App Icon"))}},
         false,
         {},
         shown("")},
        {"icon-empty-list", {{"CFBundleIcons", iconKeys(iconFiles({}))}}, true, {}, shown("")},
        {"icon-outside-bundle",
         {{"CFBundleIcons", iconKeys(iconFiles({QStringLiteral("../../../private.png")}))}},
         false,
         {},
         shown("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap info = baseInfo();
        for (auto it = c.changes.begin(); it != c.changes.end(); ++it)
            it.value().isValid() ? void(info.insert(it.key(), it.value())) : void(info.remove(it.key()));
        const QString path = makeIpa(QLatin1String(c.name) + QStringLiteral(".ipa"), info, c.binary, c.files);
        const Outcome out = inspectPackage(new ParseIPA, path);
        ASSERT_TRUE(out.record) << out.failure.toStdString();
        PackageRecord expected = c.expected;
        if (!expected.icon.isEmpty())
            expected.icon = bundle() + expected.icon;
        expected.size = QStringLiteral("0 MB");
        EXPECT_EQ(*out.record, expected) << out.record->icon.toStdString();
        if (QLatin1String(c.name) == QLatin1String("icon-cgbi-2x")) {
            EXPECT_FALSE(QImage(out.record->icon).isNull()) << "CgBI icon left for the upload";
        }
    }
}

TEST(IpaInspection, ExtensionBundleOrderAndExtractedEntries) {
    const QMap<QString, QByteArray> files = {
        {QStringLiteral("Payload/B.app/Info.plist"),
         packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "b"}})},
        {QStringLiteral("Payload/A.app/Info.plist"),
         packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "a"}})},
        {QStringLiteral("Payload/A.app/Frameworks/Big.framework/Big"), QByteArray(4096, 'x')}};
    const QString upper = packages::zipFiles(homeDir() + QStringLiteral("/pkgs/Two.IPA"), files);
    const Outcome out = inspectPackage(new ParseIPA, upper);
    ASSERT_TRUE(out.record);
    EXPECT_EQ(out.record->bundleID, QStringLiteral("a"));
    EXPECT_FALSE(QFile::exists(workingFolder() + QStringLiteral("/Payload/A.app/Frameworks")));

    const QString zip = homeDir() + QStringLiteral("/pkgs/Two.zip");
    QFile::copy(upper, zip);
    EXPECT_FALSE(inspectPackage(new ParseIPA, zip).failure.isEmpty());
}

TEST(IpaInspection, SizeTextBoundaries) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0 MB"}, {1048575, "0 MB"}, {1048576, "1 MB"}, {5000000, "4 MB"}, {3LL << 30, "3072 MB"}};
    const QString dir = makeTempDir();
    for (const auto& [bytes, text] : cases) {
        QFile f(dir + QStringLiteral("/%1").arg(bytes));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(bytes));
        EXPECT_EQ(Inspector::packageSizeText(f.fileName()), QLatin1String(text)) << bytes;
    }
    EXPECT_EQ(Inspector::packageSizeText(dir + QStringLiteral("/missing")), QString());
}

TEST(IpaInspection, CorpusPackages) {
    struct Case {
        const char* file;
        PackageRecord expected; // icon relative to the working folder; empty bundleID: failure
    };
    const Case cases[] = {
        {"lagunitas_Sample.ipa",
         {"com.samsoffes.Sample", "2.2", "Sample", "Payload/Sample.app/AppIcon29x29@2x.png", "0 MB", "7.0",
          ""}},
        {"com.fake.IpaApp_1000000000001.ipa",
         {"org.onionshare.OnionShare", "1.0.1", "OnionShare", "Payload/IpaApp.app/AppIcon60x60@2x~ipad.png",
          "0 MB", "15.0", ""}},
        {"app-info_ipad.ipa", {"com.icyleaf.bundle", "1.0", "bundle", "", "0 MB", "9.3", ""}},
        {"app-info_embedded.ipa", {"com.icyleaf.test.Demo", "1.0", "Demo", "", "0 MB", "14.3", ""}},
        {"fastlane_very capable app.ipa",
         {"org.fastlane.very-capable-app", "1.0", "very capable app", "", "0 MB", "11.2", ""}},
        {"fastlane_no-app-bundle.ipa", {}},
        {"fastlane_not-an-ipa.ipa", {}},
        {"fastlane_ContainsWatchApp.ipa", {}}, // Payload is not at the top of this archive
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Outcome out =
            inspectPackage(new ParseIPA, dataPath(QStringLiteral("ipa/") + QLatin1String(c.file)));
        if (c.expected.bundleID.isEmpty()) {
            EXPECT_FALSE(out.record);
            continue;
        }
        ASSERT_TRUE(out.record) << out.failure.toStdString();
        PackageRecord expected = c.expected;
        if (!expected.icon.isEmpty())
            expected.icon = workingFolder() + QLatin1Char('/') + expected.icon;
        EXPECT_EQ(*out.record, expected);
    }
}
