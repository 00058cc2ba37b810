#include "CliSupport.h"
#include "inspect/PackageFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testsupport;

namespace {
CliRun inspect(const QStringList& args) {
    return cli(QStringList{QStringLiteral("inspect")} + args);
}
QJsonObject json(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}
} // namespace

TEST(InspectCommand, PrintsRecordJsonAndFailures) {
    const QString apk = dataPath(QStringLiteral("apk/com.politedroid_6.apk"));
    const struct {
        QStringList args;
        int status;
        const char *inOut, *inErr;
    } cases[] = {
        {{apk}, 0, "name: Polite Droid\n", ""},
        {{QStringLiteral("--verbose"), apk}, 0, "name: Polite Droid\n", "Unzipping done"},
        {{dataPath(QStringLiteral("ipa/fastlane_not-an-ipa.ipa"))},
         1,
         "",
         "This file is not a valid iOS app package."},
        {{}, 2, "", "missing PACKAGE"},
        {{QStringLiteral("--bogus"), apk}, 2, "", "bogus"},
    };
    for (const auto& c : cases) {
        const CliRun run = inspect(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.out.contains(QLatin1String(c.inOut))) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.inErr))) << run.err.toStdString();
        EXPECT_TRUE(c.status != 0 || *c.inErr || run.err.isEmpty()) << "diagnostics only with --verbose";
    }
    const CliRun run = inspect({QStringLiteral("--json"), apk});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(json(run.out).keys(),
              (QStringList{"bundleID", "icon", "minOS", "name", "preflight", "size", "version"}))
        << run.out.toStdString();
    EXPECT_EQ(json(run.out).value(QStringLiteral("minOS")).toString(), QStringLiteral("6"));
    EXPECT_EQ(json(run.out).value(QStringLiteral("preflight")).toObject(),
              json(R"({"blocking":false,"findings":[]})"));
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
    CliRun run = inspect({ipa});
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QLatin1String(
        "\nPreflight: blocking, this build cannot be installed from a link\n"
        "  warning   This build installs only on the 12 devices listed in its profile. [profile-ad-hoc]\n"
        "  ok        The profile is valid until 1 January 2035. [profile-valid]\n"
        "  blocking  The profile is made for ABCDE12345.com.example.other, not for this app "
        "(com.example.app): the install will fail. [app-id-mismatch]\n"
        "  profile   ad-hoc \"Example ad-hoc\"\n"
        "  team      Example Corp (ABCDE12345)\n"
        "  app id    ABCDE12345.com.example.other\n"
        "  created   1 February 2025\n"
        "  expires   1 January 2035\n"
        "  devices   12\n")))
        << run.out.toStdString();

    run = inspect({QStringLiteral("--json"), ipa});
    ASSERT_EQ(run.status, 0);
    const QJsonObject preflight = json(run.out).value(QStringLiteral("preflight")).toObject();
    EXPECT_EQ(preflight.value(QStringLiteral("blocking")), QJsonValue(true));
    EXPECT_EQ(preflight.value(QStringLiteral("findings")).toArray().at(0).toObject(),
              json(R"({"code":"profile-ad-hoc","verdict":"warning",
                  "message":"This build installs only on the 12 devices listed in its profile."})"));
    EXPECT_EQ(preflight.value(QStringLiteral("profile")).toObject(),
              json(R"({"kind":"ad-hoc","name":"Example ad-hoc","teamIdentifier":"ABCDE12345",
                  "appIdentifier":"ABCDE12345.com.example.other",
                  "teamName":"Example Corp","provisionedDevices":12,
                  "expirationDate":"2035-01-01T00:00:00Z","creationDate":"2025-02-01T09:30:00Z"})"))
        << run.out.toStdString();
}
