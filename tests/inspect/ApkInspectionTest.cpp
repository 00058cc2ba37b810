#include "InspectionRun.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "inspect/ParseAPK.h"
#include "inspect/ResourceFolder.h"

#include <QFile>
#include <QImage>

using namespace testsupport;

TEST(ApkInspection, BadgingPatternsFirstMatchCaseInsensitive) {
    struct Case {
        const char* output;
        QHash<QString, QString> expected;
    };
    const Case cases[] = {
        {"package: name='a.b' versionCode='12' versionName='1.2' platformBuildVersionName='13'\n"
         "application-label:'App'\nx: platformBuildVersionCode='33'",
         {{"packageName", "a.b"}, {"versionCode", "12"}, {"versionName", "1.2"}, {"name", "App"}}},
        // The localised line comes first but only "application-label:" counts.
        {"application-label-fr:'Appli'\napplication-label:'Bob's App'\nPACKAGE: NAME='x' VERSIONCODE='5'",
         {{"name", "Bob"}, {"packageName", "x"}, {"versionCode", "5"}}},
        {"package: name='only'", {{"packageName", "only"}}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseAPK::badgingValues(QString::fromUtf8(c.output)), c.expected) << c.output;
}

TEST(ApkInspection, GeneratedPackages) {
    struct Case {
        const char* name;
        packages::AndroidApp app;
        PackageRecord expected; // icon relative to the working folder
    };
    packages::AndroidApp adaptive;
    adaptive.adaptiveIcon = true;
    packages::AndroidApp localised;
    localised.label = QStringLiteral("Bob's App");
    localised.localisedLabels = {{QStringLiteral("fr"), QStringLiteral("L'appli")},
                                 {QStringLiteral("ar"), QStringLiteral("تطبيق")}};
    localised.versionName = QStringLiteral("2.0-beta");
    localised.assetSize = 4096;
    const Case cases[] = {
        {"plain",
         {},
         {"com.example.app", "1.7", "Example", "res/mipmap-xhdpi-v4/ic_launcher.png", "0 MB", "7", ""}},
        {"adaptive",
         adaptive,
         {"com.example.app", "1.7", "Example", "res/mipmap-anydpi-v26/ic_launcher.xml", "0 MB", "7", ""}},
        {"localised",
         localised,
         {"com.example.app", "2.0-beta", "Bob", "res/mipmap-xhdpi-v4/ic_launcher.png", "0 MB", "7", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString apk =
            packages::buildApk(homeDir() + QStringLiteral("/pkgs/%1.apk").arg(QLatin1String(c.name)), c.app);
        ASSERT_FALSE(apk.isEmpty());
        const Outcome out = inspectPackage(new ParseAPK, apk);
        ASSERT_TRUE(out.record) << out.failure.toStdString();
        PackageRecord expected = c.expected;
        expected.icon = workingFolder() + QLatin1Char('/') + expected.icon;
        EXPECT_EQ(*out.record, expected);
        EXPECT_TRUE(QFile::exists(out.record->icon));
        EXPECT_FALSE(QFile::exists(workingFolder() + QStringLiteral("/assets/blob.bin"))) << "bulk extracted";
        EXPECT_FALSE(QFile::exists(workingFolder() + QStringLiteral("/classes.dex")));
    }
}

TEST(ApkInspection, CorpusPackages) {
    const std::pair<const char*, PackageRecord> cases[] = {
        {"com.politedroid_6.apk",
         {"com.politedroid", "1.5", "Polite Droid", "res/drawable-xhdpi-v4/icon.png", "0 MB", "6", ""}},
        {"duplicate.permisssions_9999999.apk",
         {"duplicate.permisssions", "", "Duplicate Permisssions", "res/drawable/ic_launcher.png", "0 MB",
          "9999999", ""}},
        {"urzip-unicode-label.apk",
         {"info.guardianproject.urzip", "0.1",
          QStringLiteral("urzip-πÇÇπÇÇ现代汉语通用字-български-عربي1234"), "res/drawable/ic_launcher.png",
          "0 MB", "100", ""}},
        {"issue1170.apk", {"com.ibotpeaches.issue1170", "1.0", "Issue1170", "r/e/a.png", "0 MB", "1", ""}},
        {"issue-1128-poc1.apk",
         {"android.appsecurity.cts.tinyapp", "1.0", "Tiny App for CTS", "", "0 MB", "10", ""}},
        {"janus.apk", {}},
    };
    for (const auto& [file, record] : cases) {
        SCOPED_TRACE(file);
        const Outcome out =
            inspectPackage(new ParseAPK, dataPath(QStringLiteral("apk/") + QLatin1String(file)));
        if (record.bundleID.isEmpty()) {
            EXPECT_FALSE(out.record);
            continue;
        }
        ASSERT_TRUE(out.record) << out.failure.toStdString();
        PackageRecord expected = record;
        expected.icon = workingFolder() + QLatin1Char('/') + expected.icon; // no icon: the folder itself
        EXPECT_EQ(*out.record, expected);
    }
}

TEST(ApkInspection, ResourceFolderScriptsAndBundledAapt) {
    const QString apk = dataPath(QStringLiteral("apk/com.politedroid_6.apk"));
    const QString folder = makeTempDir(QStringLiteral("res"));
    Config::instance().set(ConfigKey::InspectResourceDir, folder);
    EXPECT_EQ(inspectPackage(new ParseAPK, apk).failure,
              QStringLiteral("The package inspection scripts are missing."));

    // A bundled aapt in the resource folder wins over the one on PATH.
    QFile::copy(sourceDir() + QStringLiteral("/resources/getApkInfo.sh"),
                folder + QStringLiteral("/getApkInfo.sh"));
    writeFile(folder + QStringLiteral("/aapt"),
              "#!/bin/sh\necho \"package: name='bundled.aapt' versionCode='3'\"\n");
    QFile::setPermissions(folder + QStringLiteral("/aapt"), QFile::ReadOwner | QFile::ExeOwner);
    const Outcome out = inspectPackage(new ParseAPK, apk);
    ASSERT_TRUE(out.record);
    EXPECT_EQ(out.record->bundleID, QStringLiteral("bundled.aapt"));
    EXPECT_EQ(out.record->icon, QString()) << "icon script missing gives no icon";
    Config::instance().reload();
    EXPECT_EQ(resourceFolder(), sourceDir() + QStringLiteral("/resources"));
}
