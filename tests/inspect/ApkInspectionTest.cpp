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
