#include "cli/Command.h"
#include "inspect/PackageFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testsupport;

TEST(InspectCommand, PrintsRecordJsonAndFailures) {
    struct Case {
        QStringList args;
        int status;
        const char* inOut;
        const char* inErr;
    };
    const QString apk = dataPath(QStringLiteral("apk/com.politedroid_6.apk"));
    const Case cases[] = {
        {{apk}, 0, "name: Polite Droid\n", ""},
        {{QStringLiteral("--verbose"), apk}, 0, "name: Polite Droid\n", "Unzipping done"},
        {{dataPath(QStringLiteral("ipa/fastlane_not-an-ipa.ipa"))},
         1,
         "",
         "This file is not a valid iOS app package."},
        {{}, 2, "", "missing PACKAGE"},
        {{QStringLiteral("--bogus"), apk}, 2, "", "bogus"},
    };
    for (const Case& c : cases) {
        QString out, err;
        QTextStream o(&out), e(&err);
        EXPECT_EQ(runCli(QStringList{QStringLiteral("vantry-cli"), QStringLiteral("inspect")} + c.args, o, e),
                  c.status);
        EXPECT_TRUE(out.contains(QLatin1String(c.inOut))) << out.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.inErr))) << err.toStdString();
        if (c.status == 0 && !c.args.contains(QStringLiteral("--verbose"))) {
            EXPECT_TRUE(err.isEmpty()) << "diagnostics only with --verbose: " << err.toStdString();
        }
    }
    QString out, err;
    QTextStream o(&out), e(&err);
    ASSERT_EQ(runCli({QStringLiteral("vantry-cli"), QStringLiteral("inspect"), QStringLiteral("--json"), apk},
                     o, e),
              0);
    const QJsonObject json = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_EQ(json.keys(), (QStringList{"bundleID", "icon", "minOS", "name", "preflight", "size", "version"}))
        << out.toStdString();
    EXPECT_EQ(json.value(QStringLiteral("minOS")).toString(), QStringLiteral("6"));
    EXPECT_EQ(json.value(QStringLiteral("preflight")).toObject(),
              QJsonDocument::fromJson(R"({"blocking":false,"findings":[]})").object());
}

TEST(InspectCommand, PreflightSectionAndObject) {
    packages::Profile profile;
    profile.kind = QStringLiteral("ad-hoc");
    profile.devices = 12;
    profile.appIdentifier = QStringLiteral("ABCDE12345.com.example.other");
    const QString ipa = packages::zipFiles(
        makeTempDir(QStringLiteral("cli")) + QStringLiteral("/AdHoc.ipa"),
        {{"Payload/A.app/Info.plist",
          packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "com.example.app"}, {"CFBundleName", "A"}})},
         {"Payload/A.app/embedded.mobileprovision", packages::signedProfile(profile)},
         {"Payload/A.app/_CodeSignature/CodeResources", "<plist/>"}});
    QString out, err;
    QTextStream o(&out), e(&err);
    ASSERT_EQ(runCli({QStringLiteral("vantry-cli"), QStringLiteral("inspect"), ipa}, o, e), 0);
    EXPECT_TRUE(out.contains(QLatin1String(
        "\nPreflight: blocking, this build cannot be installed from a link\n"
        "  warning   This build installs only on the 12 devices listed in its profile. [profile-ad-hoc]\n"
        "  ok        The profile is valid until 1 January 2035. [profile-valid]\n"
        "  blocking  The profile is made for ABCDE12345.com.example.other, not for this app "
        "(com.example.app): "
        "the install will fail. [app-id-mismatch]\n"
        "  profile   ad-hoc \"Example ad-hoc\"\n"
        "  team      Example Corp (ABCDE12345)\n")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("  expires   1 January 2035\n  devices   12\n")))
        << out.toStdString();

    out.clear();
    ASSERT_EQ(runCli({QStringLiteral("vantry-cli"), QStringLiteral("inspect"), QStringLiteral("--json"), ipa},
                     o, e),
              0);
    const QJsonObject preflight =
        QJsonDocument::fromJson(out.toUtf8()).object().value(QStringLiteral("preflight")).toObject();
    EXPECT_EQ(preflight.value(QStringLiteral("blocking")), QJsonValue(true));
    EXPECT_EQ(preflight.value(QStringLiteral("findings")).toArray().at(0).toObject(),
              QJsonDocument::fromJson(R"({"code":"profile-ad-hoc","verdict":"warning",
                  "message":"This build installs only on the 12 devices listed in its profile."})")
                  .object());
    const QJsonObject facts = preflight.value(QStringLiteral("profile")).toObject();
    EXPECT_EQ(facts.value(QStringLiteral("kind")), QJsonValue("ad-hoc"));
    EXPECT_EQ(facts.value(QStringLiteral("teamIdentifier")), QJsonValue("ABCDE12345"));
    EXPECT_EQ(facts.value(QStringLiteral("provisionedDevices")), QJsonValue(12));
    EXPECT_EQ(facts.value(QStringLiteral("expirationDate")), QJsonValue("2035-01-01T00:00:00Z"));
    EXPECT_EQ(facts.value(QStringLiteral("creationDate")), QJsonValue("2025-02-01T09:30:00Z"));
}
