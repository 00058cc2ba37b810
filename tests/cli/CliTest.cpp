#include "CliSupport.h"
#include "core/Config.h"
#include "core/WorkingFolder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {
QStringList manifestArgs() {
    return {"manifest",         "--url", "https://d/a.ipa",     "--title", "A & B",
            "--bundle-version", "1.0",   "--bundle-identifier", "a.b"};
}
} // namespace

TEST(Cli, ManifestWritesToTheWorkingFolderByDefaultAndPrintsThePath) {
    QDir().mkpath(workingFolder());
    const CliRun run = cli(manifestArgs());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), workingFolder() + QStringLiteral("/manifest.plist"));
    EXPECT_TRUE(testsupport::readFile(run.out.trimmed()).contains("<string>A &amp; B</string>"));
}

// Usage errors exit 2, failures 1, each with one line; help and version exit 0.
TEST(Cli, StatusesHelpAndVersion) {
    const QString missing = testsupport::makeTempDir() + QStringLiteral("/missing/m.plist");
    CliRun run = cli(manifestArgs() << QStringLiteral("--output") << missing);
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
    run = cli({QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QLatin1String("manifest")));
    run = cli({QStringLiteral("manifest"), QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith(QLatin1String("Usage: vantry-cli manifest [options]")));
    EXPECT_TRUE(run.out.contains(QLatin1String("--bundle-identifier")));
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
