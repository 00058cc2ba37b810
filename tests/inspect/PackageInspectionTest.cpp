#include "InspectionRun.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "inspect/CgbiImage.h"
#include "inspect/PackageFactory.h"
#include "inspect/ResourceFolder.h"

#include <QFile>
#include <QImage>

using namespace testsupport;

namespace {
// The record of a small package from "bundle id|version|name|icon|minimum OS"; the icon lies under
// the working folder (for an APK even when it has none: the folder itself).
PackageRecord record(const QString& fields, bool apk) {
    const QStringList f = fields.split('|');
    const QString icon = apk || !f.value(3).isEmpty() ? workingFolder() + '/' + f.value(3) : QString();
    return {f.value(0), f.value(1), f.value(2), icon, "0 MB", f.value(4), ""};
}

// Raw RGBA bytes: the CgBI reference files hold the stored (premultiplied) values with B and R swapped.
QByteArray rgbaBytes(const QImage& image, QImage::Format format) {
    const QImage rgba = image.convertToFormat(format);
    return QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
}
} // namespace

TEST(IpaInspection, FieldsFallbacksAndIconChoice) {
    struct Case {
        const char* name;
        QVariantMap changes; // to the Info.plist; an invalid QVariant removes the key
        QMap<QString, QByteArray> files = {};
        const char* icon = ""; // relative to the bundle
        bool binary = false;   // the Info.plist's format
        const char* fields = "com.example.app|2.0|Shown||13.0";
    };
    const QByteArray cgbi = readFile(dataPath("ipa/cgbi/AppIcon57.cgbi.png"));
    const QByteArray png = readFile(dataPath("ipa/cgbi/icon96.standard.png"));
    const auto icons = [](const QVariant& primary) {
        return QVariantMap{{"CFBundleIcons", QVariantMap{{"CFBundlePrimaryIcon", primary}}}};
    };
    const auto files = [&](const QStringList& names) {
        return icons(QVariantMap{{"CFBundleIconFiles", QVariant(names).toList()}});
    };
    const QVariantMap two = files({"AppIcon60x60", "AppIcon76x76"});
    const QVariant none;
    const QVariantMap fallbacks{
        {"CFBundleShortVersionString", none}, {"CFBundleDisplayName", 5}, {"MinimumOSVersion", none}};
    const QVariantMap noVersion{
        {"CFBundleShortVersionString", none}, {"CFBundleVersion", none}, {"CFBundleIdentifier", 7}};
    const Case cases[] = {
        {"xml", {}},
        {"binary-fallbacks", fallbacks, {}, "", true, "com.example.app|20|Plain||10"},
        {"no-version-non-text-id", noVersion, {}, "", true, "||Shown||13.0"},
        {"png", two, {{"AppIcon60x60.png", png}, {"AppIcon60x60@2x.png", png}}, "AppIcon60x60.png"},
        {"cgbi",
         two,
         {{"AppIcon60x60@2x.png", cgbi}, {"AppIcon76x76.png", png}},
         "AppIcon60x60@2x.png",
         true},
        {"untested-ipad", two, {{"AppIcon76x76@2x.png", png}}, "AppIcon60x60@2x~ipad.png"},
        {"png-name-not-image", files({"Icon.png"}), {{"Icon.png", "not an image"}}, "Icon.png"},
        {"primary-is-text", icons("App Icon")},
        {"empty-list", files({}), {}, "", true},
        {"outside-bundle", files({"../../../private.png"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap info{{"CFBundleIdentifier", "com.example.app"},
                         {"CFBundleShortVersionString", "2.0"},
                         {"CFBundleVersion", "20"},
                         {"CFBundleDisplayName", "Shown"},
                         {"CFBundleName", "Plain"},
                         {"MinimumOSVersion", "13.0"}};
        for (auto it = c.changes.begin(); it != c.changes.end(); ++it)
            it.value().isValid() ? void(info.insert(it.key(), it.value())) : void(info.remove(it.key()));
        const QByteArray plist = c.binary ? packages::binaryPlist(info) : packages::xmlPlist(info);
        QMap<QString, QByteArray> entries{{"Payload/Demo.app/Info.plist", plist}};
        for (auto it = c.files.begin(); it != c.files.end(); ++it)
            entries.insert("Payload/Demo.app/" + it.key(), it.value());
        const QString path = packages::zipFiles(homeDir() + "/pkgs/" + c.name + ".ipa", entries);
        const Outcome out = inspectPackage(new ParseIPA, path);
        ASSERT_TRUE(out.record) << out.failure.toStdString();
        PackageRecord expected = record(QString::fromUtf8(c.fields), false);
        expected.icon = *c.icon ? workingFolder() + "/Payload/Demo.app/" + c.icon : QString();
        EXPECT_EQ(*out.record, expected) << out.record->icon.toStdString();
        EXPECT_TRUE(QByteArray(c.name) != "cgbi" || !QImage(out.record->icon).isNull())
            << "CgBI icon left for the upload";
    }
}

TEST(IpaInspection, ExtensionBundleOrderAndExtractedEntries) {
    const QString upper = packages::zipFiles(
        homeDir() + "/pkgs/Two.IPA",
        {{"Payload/B.app/Info.plist", packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "b"}})},
         {"Payload/A.app/Info.plist", packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "a"}})},
         {"Payload/A.app/Frameworks/Big.framework/Big", QByteArray(4096, 'x')}});
    const Outcome out = inspectPackage(new ParseIPA, upper);
    ASSERT_TRUE(out.record);
    EXPECT_EQ(out.record->bundleID, "a");
    EXPECT_FALSE(QFile::exists(workingFolder() + "/Payload/A.app/Frameworks"));

    const QString zip = homeDir() + "/pkgs/Two.zip";
    QFile::copy(upper, zip);
    EXPECT_FALSE(inspectPackage(new ParseIPA, zip).failure.isEmpty());
}

TEST(IpaInspection, SizeTextBoundaries) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0 MB"}, {1048575, "0 MB"}, {1048576, "1 MB"}, {5000000, "4 MB"}, {3LL << 30, "3072 MB"}};
    const QString dir = makeTempDir();
    for (const auto& [bytes, text] : cases) {
        QFile f(dir + '/' + QString::number(bytes));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(bytes));
        EXPECT_EQ(Inspector::packageSizeText(f.fileName()), QLatin1String(text)) << bytes;
    }
    EXPECT_EQ(Inspector::packageSizeText(dir + "/missing"), QString());
}

TEST(IpaInspection, CorpusPackagesOfBothKinds) {
    // One generated package adds what the corpus lacks: an adaptive icon, localised labels listed
    // before the plain one, an apostrophe in the label and a bulky asset.
    packages::AndroidApp generated;
    generated.adaptiveIcon = true;
    generated.label = "Bob's App";
    generated.localisedLabels = {{"fr", "L'appli"}, {"ar", "تطبيق"}};
    generated.versionName = "2.0-beta";
    generated.assetSize = 4096;
    // An empty bundle id: the inspection fails.
    const std::pair<QString, const char*> cases[] = {
        {packages::buildApk(homeDir() + "/pkgs/generated.apk", generated),
         "com.example.app|2.0-beta|Bob|res/mipmap-anydpi-v26/ic_launcher.xml|7"},
        {"ipa/lagunitas_Sample.ipa",
         "com.samsoffes.Sample|2.2|Sample|Payload/Sample.app/AppIcon29x29@2x.png|7.0"},
        {"ipa/com.fake.IpaApp_1000000000001.ipa",
         "org.onionshare.OnionShare|1.0.1|OnionShare|Payload/IpaApp.app/AppIcon60x60@2x~ipad.png|15.0"},
        {"ipa/app-info_ipad.ipa", "com.icyleaf.bundle|1.0|bundle||9.3"},
        {"ipa/app-info_embedded.ipa", "com.icyleaf.test.Demo|1.0|Demo||14.3"},
        {"ipa/fastlane_very capable app.ipa", "org.fastlane.very-capable-app|1.0|very capable app||11.2"},
        {"ipa/fastlane_no-app-bundle.ipa", ""},
        {"ipa/fastlane_not-an-ipa.ipa", ""},
        {"ipa/fastlane_ContainsWatchApp.ipa", ""}, // Payload is not at the top of this archive
        {"apk/com.politedroid_6.apk", "com.politedroid|1.5|Polite Droid|res/drawable-xhdpi-v4/icon.png|6"},
        {"apk/duplicate.permisssions_9999999.apk",
         "duplicate.permisssions||Duplicate Permisssions|res/drawable/ic_launcher.png|9999999"},
        {"apk/urzip-unicode-label.apk", "info.guardianproject.urzip|0.1|urzip-πÇÇπÇÇ现代汉语通用字-български-"
                                        "عربي1234|res/drawable/ic_launcher.png|100"},
        {"apk/issue1170.apk", "com.ibotpeaches.issue1170|1.0|Issue1170|r/e/a.png|1"},
        {"apk/issue-1128-poc1.apk", "android.appsecurity.cts.tinyapp|1.0|Tiny App for CTS||10"},
        {"apk/janus.apk", ""},
    };
    for (const auto& [file, fields] : cases) {
        SCOPED_TRACE(file.toStdString());
        const bool apk = file.endsWith(".apk");
        const Outcome out = inspectPackage(inspectorFor(file), file.startsWith('/') ? file : dataPath(file));
        ASSERT_EQ(out.record.has_value(), *fields != '\0') << out.failure.toStdString();
        const PackageRecord expected = record(QString::fromUtf8(fields), apk);
        EXPECT_EQ(out.record.value_or(expected), expected);
        // An APK's icon is extracted; an IPA may name one it lacks (see FieldsFallbacksAndIconChoice).
        EXPECT_TRUE(!apk || !out.record || expected.icon.endsWith('/') || QFile::exists(expected.icon));
        for (const char* bulk : {"/assets/blob.bin", "/classes.dex"})
            EXPECT_FALSE(QFile::exists(workingFolder() + bulk)) << "extracted " << bulk;
    }
}

TEST(ApkInspection, ResourceFolderScriptsAndBundledAapt) {
    const QString apk = dataPath("apk/com.politedroid_6.apk");
    const QString folder = makeTempDir();
    Config::instance().set(ConfigKey::InspectResourceDir, folder);
    EXPECT_EQ(inspectPackage(new ParseAPK, apk).failure, "The package inspection scripts are missing.");

    // A bundled aapt in the resource folder wins over the one on PATH.
    QFile::copy(sourceDir() + "/resources/getApkInfo.sh", folder + "/getApkInfo.sh");
    writeFile(folder + "/aapt", "#!/bin/sh\necho \"package: name='bundled.aapt' versionCode='3'\"\n");
    QFile::setPermissions(folder + "/aapt", QFile::ReadOwner | QFile::ExeOwner);
    const Outcome out = inspectPackage(new ParseAPK, apk);
    ASSERT_TRUE(out.record);
    EXPECT_EQ(out.record->bundleID, "bundled.aapt");
    EXPECT_EQ(out.record->icon, QString()) << "icon script missing gives no icon";
    Config::instance().reload();
    EXPECT_EQ(resourceFolder(), sourceDir() + "/resources");
}

TEST(CgbiImage, CorpusPairsGeneratedRoundTripAndDamage) {
    for (const char* name : {"icon120", "AppIcon57"}) {
        const QString base = dataPath("ipa/cgbi/" + QString(name));
        const QImage decoded = CgbiImage::load(base + ".cgbi.png");
        const QImage reference(base + ".normal.png");
        ASSERT_FALSE(decoded.isNull()) << name;
        EXPECT_TRUE(QImage(base + ".cgbi.png").isNull()) << "Qt alone decodes CgBI?";
        EXPECT_EQ(rgbaBytes(decoded, QImage::Format_RGBA8888_Premultiplied),
                  rgbaBytes(reference, QImage::Format_RGBA8888))
            << name;
    }
    EXPECT_EQ(CgbiImage::load(dataPath("ipa/cgbi/app-info-ipad_AppIcon83.5x83.5@2x~ipad.cgbi.png")).size(),
              QSize(167, 167));
    const QString standard = dataPath("ipa/cgbi/icon96.standard.png");
    EXPECT_EQ(CgbiImage::load(standard), QImage(standard));

    const QByteArray cgbi = readFile(dataPath("ipa/cgbi/AppIcon57.cgbi.png"));
    for (qsizetype cut : {qsizetype(10), qsizetype(40), cgbi.size() / 2, cgbi.size() - 30})
        EXPECT_FALSE(CgbiImage::decode(cgbi.left(cut))) << cut;
    QByteArray hugeHeader = cgbi;
    hugeHeader[32] = char(0x7f); // IHDR width far beyond any icon
    EXPECT_FALSE(CgbiImage::decode(hugeHeader));
}
