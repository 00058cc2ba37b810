#include "core/Config.h"
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
    qputenv("VANTRY_CONFIG", testsupport::writeFile(testsupport::makeTempDir() + "/config.ini",
                                                    "[backend]\nbaseUrl=https://file.example/\n[dropbox]\n"
                                                    "apiUrl=http://127.0.0.1:9/\n")
                                 .toLocal8Bit());
    qputenv("VANTRY_BACKEND_BASE_URL", "https://env.example/");
    Config& config = Config::instance();
    config.reload();

    const std::tuple<ConfigKey, const char*, Config::Source> cases[] = {
        {ConfigKey::BackendBaseUrl, "https://env.example/", Config::Source::Environment},
        {ConfigKey::DropboxApiUrl, "http://127.0.0.1:9/", Config::Source::File},
        {ConfigKey::GoogleTokenUrl, "https://oauth2.googleapis.com/token", Config::Source::Default}};
    for (const auto& [key, value, source] : cases)
        EXPECT_TRUE(config.value(key) == value && config.source(key) == source) << value;

    // An empty variable is still a deliberate override.
    qputenv("VANTRY_DROPBOX_API_URL", "");
    config.reload();
    EXPECT_EQ(config.value(ConfigKey::DropboxApiUrl), QString());
}

TEST_F(ConfigFixture, KeyTableIsConsistent) {
    QSet<QString> names;
    for (const Config::Key& key : Config::keys()) {
        EXPECT_FALSE(names.contains(key.name)) << key.name;
        names.insert(key.name);
        EXPECT_TRUE(QString(key.name).contains('/') && strlen(key.description) > 5) << key.name;
        // Secrets have no compiled-in value.
        EXPECT_TRUE(!key.secret || !*key.defaultValue) << key.name;
    }
    EXPECT_EQ(Config::environmentName(ConfigKey::ZohoExternalFilesUrl), "VANTRY_ZOHO_EXTERNAL_FILES_URL");
    EXPECT_TRUE(Config::instance().value(ConfigKey::BackendBaseUrl).endsWith(QLatin1Char('/')));
}
