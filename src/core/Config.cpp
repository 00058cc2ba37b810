#include "core/Config.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>

namespace {

constexpr std::array<Config::Key, configKeyCount> keyTable = {{
    {ConfigKey::BackendBaseUrl, "backend/baseUrl", "http://127.0.0.1:8027/",
     "Production base URL of the Vantry backend (ends in \"/\")"},
    {ConfigKey::BackendUseLocalBackend, "backend/useLocalBackend", "false",
     "Use the development backend on http://127.0.0.1:8027/ instead"},
    {ConfigKey::BackendRequestTimeoutSeconds, "backend/requestTimeoutSeconds", "30",
     "Time-out of one backend request, in seconds"},
    {ConfigKey::BackendAccessKey, "backend/accessKey", "",
     "Access key a team's vantry-server requires on every call (--access-key)"},
    {ConfigKey::SelfHostedUrl, "selfhosted/url", "http://127.0.0.1:8027/",
     "Base URL of a self-hosted vantry-server used as storage"},
    {ConfigKey::SelfHostedToken, "selfhosted/token", "", "Bearer token of the self-hosted storage API", true},
    {ConfigKey::DropboxAppKey, "dropbox/appKey", "", "Dropbox app key (15 lowercase letters and digits)"},
    {ConfigKey::DropboxApiUrl, "dropbox/apiUrl", "https://api.dropboxapi.com", "Dropbox RPC endpoint base"},
    {ConfigKey::DropboxContentUrl, "dropbox/contentUrl", "https://content.dropboxapi.com",
     "Dropbox content upload/download base"},
    {ConfigKey::DropboxAuthorizeUrl, "dropbox/authorizeUrl", "https://www.dropbox.com/oauth2/authorize",
     "Dropbox OAuth authorize page"},
    {ConfigKey::DropboxTokenUrl, "dropbox/tokenUrl", "https://api.dropboxapi.com/oauth2/token",
     "Dropbox OAuth token endpoint"},
    {ConfigKey::DropboxRevokeUrl, "dropbox/revokeUrl", "https://api.dropboxapi.com/2/auth/token/revoke",
     "Dropbox OAuth token revocation"},
    {ConfigKey::DropboxRedirectUri, "dropbox/redirectUri", "",
     "Registered loopback redirect of the Dropbox sign-in (e.g. http://127.0.0.1:53682/oauth/dropbox); "
     "empty: the user pastes the code Dropbox shows"},
    {ConfigKey::DropboxShareHost, "dropbox/shareHost", "www.dropbox.com",
     "Host of Dropbox shared-link preview pages"},
    {ConfigKey::DropboxDirectHost, "dropbox/directHost", "dl.dropboxusercontent.com",
     "Host that serves the raw bytes of shared links"},
    {ConfigKey::DropboxSingleUploadLimitBytes, "dropbox/singleUploadLimitBytes", "157286400",
     "Largest file sent to Dropbox in one request; larger ones go through an upload session"},
    {ConfigKey::DropboxUploadChunkBytes, "dropbox/uploadChunkBytes", "155189248",
     "Largest Dropbox upload-session request (whole 4 MiB units, at most 148 MiB); the pieces fit the "
     "link below it"},
    {ConfigKey::StorageRetryBackoffMilliseconds, "storage/retryBackoffMilliseconds", "1000",
     "First wait before repeating a failed storage-provider request when the server names none; doubles "
     "per attempt"},
    {ConfigKey::GoogleClientId, "google/clientId", "",
     "Google OAuth installed-application client identifier"},
    {ConfigKey::GoogleClientSecret, "google/clientSecret", "", "Google OAuth client secret", true},
    {ConfigKey::GoogleAuthorizeUrl, "google/authorizeUrl", "https://accounts.google.com/o/oauth2/v2/auth",
     "Google OAuth authorization page"},
    {ConfigKey::GoogleTokenUrl, "google/tokenUrl", "https://oauth2.googleapis.com/token",
     "Google OAuth token endpoint"},
    {ConfigKey::GoogleRevokeUrl, "google/revokeUrl", "https://oauth2.googleapis.com/revoke",
     "Google OAuth revocation endpoint"},
    {ConfigKey::GoogleUserInfoUrl, "google/userInfoUrl", "https://www.googleapis.com/oauth2/v3/userinfo",
     "Google user-information endpoint"},
    {ConfigKey::GoogleDriveUrl, "google/driveUrl", "https://www.googleapis.com/drive/v3",
     "Drive v3 metadata API base"},
    {ConfigKey::GoogleUploadUrl, "google/uploadUrl", "https://www.googleapis.com/upload/drive/v3",
     "Drive v3 upload API base"},
    {ConfigKey::GoogleDownloadUrl, "google/downloadUrl", "https://drive.usercontent.google.com/download",
     "Drive direct-download link base"},
    {ConfigKey::GoogleUploadChunkBytes, "google/uploadChunkBytes", "2147483648",
     "Largest Drive resumable-upload request (a multiple of 256 KiB); the pieces fit the link below it"},
    {ConfigKey::ZohoClientId, "zoho/clientId", "", "Zoho OAuth client identifier"},
    {ConfigKey::ZohoClientSecret, "zoho/clientSecret", "", "Zoho OAuth client secret", true},
    {ConfigKey::ZohoRedirectUri, "zoho/redirectUri", "Vantry://zohoCallback", "Zoho OAuth redirect URI"},
    {ConfigKey::ZohoAccountsUrl, "zoho/accountsUrl", "https://accounts.zoho.com",
     "Zoho accounts host (OAuth)"},
    {ConfigKey::ZohoApiUrl, "zoho/apiUrl", "https://www.zohoapis.com", "WorkDrive API host"},
    {ConfigKey::ZohoUploadUrl, "zoho/uploadUrl", "https://upload.zoho.com", "WorkDrive upload host"},
    {ConfigKey::ZohoSettleMilliseconds, "zoho/settleMilliseconds", "1000",
     "Pause before a WorkDrive upload's result and a new file's link are asked for"},
    {ConfigKey::ZohoExternalFilesUrl, "zoho/externalFilesUrl", "https://files-accl.zohoexternal.com",
     "WorkDrive external-files host (direct links)"},
    {ConfigKey::InspectResourceDir, "inspect/resourceDir", "",
     "Folder of the package inspection scripts (empty: found next to the program)"},
}};

// The table is indexed by ConfigKey: every entry sits at its own key's position.
constexpr bool tableFollowsKeyOrder() {
    for (std::size_t i = 0; i < keyTable.size(); ++i) {
        if (keyTable[i].id != ConfigKey(i))
            return false;
    }
    return true;
}
static_assert(tableFollowsKeyOrder(), "keyTable must list every ConfigKey once, in declaration order");

} // namespace

std::span<const Config::Key> Config::keys() {
    return keyTable;
}

const Config::Key& Config::key(ConfigKey key) {
    return keyTable[std::size_t(key)];
}

QString Config::name(ConfigKey key) {
    return QString::fromLatin1(Config::key(key).name);
}

QString Config::environmentName(ConfigKey key) {
    QString out = QStringLiteral("VANTRY_");
    for (QChar c : name(key)) {
        if (c == QLatin1Char('/'))
            out += QLatin1Char('_');
        else if (c.isUpper())
            out += QLatin1Char('_') + c;
        else
            out += c.toUpper();
    }
    return out;
}

Config& Config::instance() {
    static Config config;
    return config;
}

QString Config::filePath() {
    const QByteArray overridden = qgetenv("VANTRY_CONFIG");
    if (!overridden.isEmpty())
        return QString::fromLocal8Bit(overridden);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vantry/config.ini");
}

Config::Config() {
    reload();
}

void Config::reload() {
    const QString path = filePath();
    const bool haveFile = QFileInfo::exists(path);
    QSettings file(path, QSettings::IniFormat);
    for (const Key& key : keys()) {
        const QString name = QString::fromLatin1(key.name);
        Entry entry{QString::fromUtf8(key.defaultValue), Source::Default};
        if (haveFile && file.contains(name))
            entry = {file.value(name).toString(), Source::File};
        const QByteArray variable = environmentName(key.id).toLatin1();
        if (qEnvironmentVariableIsSet(variable.constData()))
            entry = {QString::fromUtf8(qgetenv(variable.constData())), Source::Environment};
        m_entries[std::size_t(key.id)] = entry;
    }
}

QString Config::value(ConfigKey key) const {
    return m_entries[std::size_t(key)].value;
}

bool Config::boolValue(ConfigKey key) const {
    const QString v = value(key).trimmed().toLower();
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes") ||
           v == QLatin1String("on");
}

int Config::intValue(ConfigKey key) const {
    return value(key).trimmed().toInt();
}

Config::Source Config::source(ConfigKey key) const {
    return m_entries[std::size_t(key)].source;
}

void Config::set(ConfigKey key, const QString& value) {
    m_entries[std::size_t(key)] = {value, Source::Environment};
}
