#include "core/Config.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {
struct ConfigFixture : ::testing::Test {
    void TearDown() override {
        qunsetenv("VANTRY_CONFIG");
        qunsetenv("VANTRY_BACKEND_BASE_URL");
        qunsetenv("VANTRY_DROPBOX_API_URL");
        Config::instance().reload();
    }
};
} // namespace

TEST_F(ConfigFixture, EnvironmentBeatsFileBeatsDefault) {
    const QString ini = testsupport::makeTempDir() + QStringLiteral("/config.ini");
    testsupport::writeFile(
        ini, "[backend]\nbaseUrl=https://file.example/\n[dropbox]\napiUrl=http://127.0.0.1:9/\n");
    qputenv("VANTRY_CONFIG", ini.toLocal8Bit());
    qputenv("VANTRY_BACKEND_BASE_URL", "https://env.example/");
    Config& config = Config::instance();
    config.reload();

    EXPECT_EQ(config.value(ConfigKey::BackendBaseUrl), QStringLiteral("https://env.example/"));
    EXPECT_EQ(config.source(ConfigKey::BackendBaseUrl), Config::Source::Environment);
    EXPECT_EQ(config.value(ConfigKey::DropboxApiUrl), QStringLiteral("http://127.0.0.1:9/"));
    EXPECT_EQ(config.source(ConfigKey::DropboxApiUrl), Config::Source::File);
    EXPECT_EQ(config.value(ConfigKey::GoogleTokenUrl), QStringLiteral("https://oauth2.googleapis.com/token"));
    EXPECT_EQ(config.source(ConfigKey::GoogleTokenUrl), Config::Source::Default);

    // An empty variable is still a deliberate override.
    qputenv("VANTRY_DROPBOX_API_URL", "");
    config.reload();
    EXPECT_EQ(config.value(ConfigKey::DropboxApiUrl), QString());
}

TEST_F(ConfigFixture, KeyTableIsConsistent) {
    QSet<QString> names;
    for (const Config::Key& key : Config::keys()) {
        const QString name = QString::fromLatin1(key.name);
        EXPECT_FALSE(names.contains(name)) << key.name;
        names.insert(name);
        EXPECT_TRUE(name.contains(QLatin1Char('/'))) << key.name;
        EXPECT_TRUE(QString::fromLatin1(key.description).size() > 5) << key.name;
        if (key.secret) {
            EXPECT_STREQ(key.defaultValue, "") << "secrets have no compiled-in value: " << key.name;
        }
    }
    EXPECT_EQ(Config::environmentName(ConfigKey::BackendBaseUrl), QStringLiteral("VANTRY_BACKEND_BASE_URL"));
    EXPECT_EQ(Config::environmentName(ConfigKey::ZohoExternalFilesUrl),
              QStringLiteral("VANTRY_ZOHO_EXTERNAL_FILES_URL"));
    EXPECT_TRUE(Config::instance().value(ConfigKey::BackendBaseUrl).endsWith(QLatin1Char('/')));
}

TEST(PreferencesTest, FlagsPersistInTheUsersPrivateSettings) {
    EXPECT_FALSE(Preferences::flag(Preferences::isDrive));
    Preferences::setFlag(Preferences::isDrive, true);
    Preferences::setFlag(Preferences::isZoho, false);
    EXPECT_TRUE(Preferences::flag(Preferences::isDrive));
    EXPECT_FALSE(Preferences::flag(Preferences::isZoho));
    // Written under the test's private HOME, never the developer's.
    const QString file = testsupport::homeDir() + QStringLiteral("/.config/Vantry/Vantry.conf");
    EXPECT_TRUE(testsupport::readFile(file).contains("isDrive=true"));
}
