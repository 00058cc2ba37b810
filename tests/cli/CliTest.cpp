#include "CliSupport.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "inspect/PackageFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QStringList manifestArgs() {
    return {"manifest",         "--url", "https://d/a.ipa",     "--title", "A & B",
            "--bundle-version", "1.0",   "--bundle-identifier", "a.b"};
}
QJsonObject json(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}
} // namespace

// The manifest goes to the working folder by default and its path is printed. Usage errors exit 2,
// failures 1, each with one line; help and version exit 0.
TEST(Cli, ManifestStatusesHelpAndVersion) {
    QDir().mkpath(workingFolder());
    CliRun run = cli(manifestArgs());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), workingFolder() + QStringLiteral("/manifest.plist"));
    EXPECT_TRUE(testsupport::readFile(run.out.trimmed()).contains("<string>A &amp; B</string>"));

    const QString missing = testsupport::makeTempDir() + QStringLiteral("/missing/m.plist");
    run = cli(manifestArgs() << QStringLiteral("--output") << missing);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("does not exist")));
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1);
    EXPECT_FALSE(QFile::exists(missing));

    QStringList noUrl = manifestArgs();
    noUrl.remove(1, 2);
    run = cli(noUrl);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.trimmed(), QStringLiteral("vantry-cli manifest: missing --url"));
    for (const QStringList& args :
         {manifestArgs() << QStringLiteral("--colour"), QStringList{"frobnicate"}, QStringList{}})
        EXPECT_EQ(cli(args).status, 2) << args.join(' ').toStdString();

    run = cli({QStringLiteral("--version")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.trimmed(), QStringLiteral("vantry-cli " VANTRY_VERSION));
    run = cli({QStringLiteral("manifest"), QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith(QLatin1String("Usage: vantry-cli manifest [options]")));
}

TEST(Cli, ConfigShowsSourcesAndNeverASecret) {
    qputenv("VANTRY_ZOHO_CLIENT_SECRET", "0123456789abcdef-secret");
    qputenv("VANTRY_BACKEND_BASE_URL", "https://env.example/");
    Config::instance().reload();
    const CliRun run = cli({QStringLiteral("config")});
    qunsetenv("VANTRY_ZOHO_CLIENT_SECRET");
    qunsetenv("VANTRY_BACKEND_BASE_URL");
    Config::instance().reload();
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(run.out.contains(QLatin1String("0123456789abcdef-secret")));
    EXPECT_TRUE(run.out.contains(QLatin1String("zoho/clientSecret = (set)  [VANTRY_ZOHO_CLIENT_SECRET]")));
    EXPECT_TRUE(run.out.contains(QLatin1String("google/clientSecret = (not set)  [default]")));
    EXPECT_TRUE(
        run.out.contains(QLatin1String("backend/baseUrl = https://env.example/  [VANTRY_BACKEND_BASE_URL]")));
}

TEST(InspectCommand, PrintsTheRecordThePreflightAndFailures) {
    const QString apk = testsupport::dataPath(QStringLiteral("apk/com.politedroid_6.apk"));
    const QString notIpa = testsupport::dataPath(QStringLiteral("ipa/fastlane_not-an-ipa.ipa"));
    const struct {
        QStringList args;
        int status;
        const char *inOut, *inErr;
    } cases[] = {
        {{apk}, 0, "name: Polite Droid\n", ""},
        {{QStringLiteral("--verbose"), apk}, 0, "name: Polite Droid\n", "Unzipping done"},
        {{notIpa}, 1, "", "This file is not a valid iOS app package."},
        {{}, 2, "", "missing PACKAGE"},
    };
    for (const auto& c : cases) {
        const CliRun run = cli(QStringList{QStringLiteral("inspect")} + c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.out.contains(QLatin1String(c.inOut))) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.inErr))) << run.err.toStdString();
        EXPECT_TRUE(c.status != 0 || *c.inErr || run.err.isEmpty()) << "diagnostics only with --verbose";
    }

    // An iOS build's preflight: a section of the text, an object of the JSON.
    packages::Profile profile;
    profile.kind = QStringLiteral("ad-hoc");
    profile.devices = 12;
    profile.appIdentifier = QStringLiteral("ABCDE12345.com.example.other");
    const QString ipa = packages::zipFiles(
        testsupport::makeTempDir(QStringLiteral("cli")) + QStringLiteral("/AdHoc.ipa"),
        {{"Payload/A.app/Info.plist",
          packages::xmlPlist(QVariantMap{{"CFBundleIdentifier", "com.example.app"}, {"CFBundleName", "A"}})},
         {"Payload/A.app/embedded.mobileprovision", packages::signedProfile(profile)},
         {"Payload/A.app/_CodeSignature/CodeResources", "<plist/>"}});
    CliRun run = cli({QStringLiteral("inspect"), ipa});
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

    run = cli({QStringLiteral("inspect"), QStringLiteral("--json"), ipa});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(json(run.out).keys(),
              (QStringList{"bundleID", "icon", "minOS", "name", "preflight", "size", "version"}));
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
