#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <span>

// Every configuration key, in documentation order. A misspelt key does not compile; Config::keys()
// gives each one's INI name, default and description.
enum class ConfigKey {
    BackendBaseUrl,
    BackendUseLocalBackend,
    BackendRequestTimeoutSeconds,
    BackendAccessKey,
    SelfHostedUrl,
    SelfHostedToken,
    DropboxAppKey,
    DropboxApiUrl,
    DropboxContentUrl,
    DropboxAuthorizeUrl,
    DropboxTokenUrl,
    DropboxRevokeUrl,
    DropboxRedirectUri,
    DropboxShareHost,
    DropboxDirectHost,
    DropboxSingleUploadLimitBytes,
    DropboxUploadChunkBytes,
    StorageRetryBackoffMilliseconds,
    GoogleClientId,
    GoogleClientSecret,
    GoogleAuthorizeUrl,
    GoogleTokenUrl,
    GoogleRevokeUrl,
    GoogleUserInfoUrl,
    GoogleDriveUrl,
    GoogleUploadUrl,
    GoogleDownloadUrl,
    GoogleUploadChunkBytes,
    ZohoClientId,
    ZohoClientSecret,
    ZohoRedirectUri,
    ZohoAccountsUrl,
    ZohoApiUrl,
    ZohoUploadUrl,
    ZohoSettleMilliseconds,
    ZohoExternalFilesUrl,
    InspectResourceDir,
};

// The number of keys: one past the last one above (the key table is checked against it).
inline constexpr std::size_t configKeyCount = std::size_t(ConfigKey::InspectResourceDir) + 1;

// Every host, client identifier, secret and base URL of the application. A value comes from,
// in rising precedence: the compiled-in default, the INI file (Config::filePath()), and the
// environment variable VANTRY_<GROUP>_<NAME> (for "backend/baseUrl": VANTRY_BACKEND_BASE_URL).
class Config {
public:
    struct Key {
        ConfigKey id;
        const char* name;         // "group/camelCaseName", also the INI key
        const char* defaultValue; // compiled-in default
        const char* description;  // one line for the README and `vantry-cli config`
        bool secret = false;      // never printed
    };

    enum class Source { Default, File, Environment };

    // The table of known keys, in documentation order (the order of ConfigKey).
    static std::span<const Key> keys();
    static const Key& key(ConfigKey key);
    // "group/camelCaseName"
    static QString name(ConfigKey key);
    static QString environmentName(ConfigKey key);

    // The process-wide configuration, read on first use.
    static Config& instance();
    // Where the INI file lives: VANTRY_CONFIG if set, else "<config folder>/Vantry/config.ini".
    static QString filePath();

    // Reads defaults, the file and the environment again (tests change them between cases).
    void reload();

    QString value(ConfigKey key) const;
    bool boolValue(ConfigKey key) const;
    int intValue(ConfigKey key) const;
    Source source(ConfigKey key) const;

    // Tests and the command line override single values for this process.
    void set(ConfigKey key, const QString& value);

private:
    Config();
    struct Entry {
        QString value;
        Source source = Source::Default;
    };
    std::array<Entry, configKeyCount> m_entries;
};

// Shorthand for Config::instance().value(key).
inline QString configValue(ConfigKey key) {
    return Config::instance().value(key);
}
