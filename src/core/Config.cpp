#include "core/Config.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>

const std::vector<Config::Key>& Config::keys() {
    static const std::vector<Key> table = {
        {"backend/baseUrl", "http://127.0.0.1:8027/",
         "Production base URL of the Vantry backend (ends in \"/\")"},
        {"backend/useLocalBackend", "false", "Use the development backend on http://127.0.0.1:8027/ instead"},
        {"backend/requestTimeoutSeconds", "30", "Time-out of one backend request, in seconds"},
        {"selfhosted/url", "http://127.0.0.1:8027/",
         "Base URL of a self-hosted vantry-server used as storage"},
        {"selfhosted/token", "", "Bearer token of the self-hosted storage API", true},
        {"dropbox/appKey", "", "Dropbox app key (15 lowercase letters and digits)"},
        {"dropbox/apiUrl", "https://api.dropboxapi.com", "Dropbox RPC endpoint base"},
        {"dropbox/contentUrl", "https://content.dropboxapi.com", "Dropbox content upload/download base"},
        {"dropbox/authorizeUrl", "https://www.dropbox.com/oauth2/authorize", "Dropbox OAuth authorize page"},
        {"dropbox/tokenUrl", "https://api.dropboxapi.com/oauth2/token", "Dropbox OAuth token endpoint"},
        {"dropbox/revokeUrl", "https://api.dropboxapi.com/2/auth/token/revoke",
         "Dropbox OAuth token revocation"},
        {"dropbox/redirectUri", "",
         "Registered loopback redirect of the Dropbox sign-in (e.g. http://127.0.0.1:53682/oauth/dropbox); "
         "empty: the user pastes the code Dropbox shows"},
        {"dropbox/shareHost", "www.dropbox.com", "Host of Dropbox shared-link preview pages"},
        {"dropbox/directHost", "dl.dropboxusercontent.com", "Host that serves the raw bytes of shared links"},
        {"dropbox/singleUploadLimitBytes", "157286400",
         "Largest file sent to Dropbox in one request; larger ones go through an upload session"},
        {"dropbox/uploadChunkBytes", "8388608", "Bytes per Dropbox upload-session request"},
        {"storage/retryBackoffMilliseconds", "1000",
         "First wait before repeating a failed storage-provider request when the server names none; doubles "
         "per attempt"},
        {"google/clientId", "", "Google OAuth installed-application client identifier"},
        {"google/clientSecret", "", "Google OAuth client secret", true},
        {"google/authorizeUrl", "https://accounts.google.com/o/oauth2/v2/auth",
         "Google OAuth authorization page"},
        {"google/tokenUrl", "https://oauth2.googleapis.com/token", "Google OAuth token endpoint"},
        {"google/revokeUrl", "https://oauth2.googleapis.com/revoke", "Google OAuth revocation endpoint"},
        {"google/userInfoUrl", "https://www.googleapis.com/oauth2/v3/userinfo",
         "Google user-information endpoint"},
        {"google/driveUrl", "https://www.googleapis.com/drive/v3", "Drive v3 metadata API base"},
        {"google/uploadUrl", "https://www.googleapis.com/upload/drive/v3", "Drive v3 upload API base"},
        {"google/downloadUrl", "https://drive.google.com/uc", "Drive direct-download link base"},
        {"google/uploadChunkBytes", "8388608",
         "Bytes per Drive resumable-upload request (a multiple of 256 KiB)"},
        {"zoho/clientId", "", "Zoho OAuth client identifier"},
        {"zoho/clientSecret", "", "Zoho OAuth client secret", true},
        {"zoho/redirectUri", "Vantry://zohoCallback", "Zoho OAuth redirect URI"},
        {"zoho/accountsUrl", "https://accounts.zoho.com", "Zoho accounts host (OAuth)"},
        {"zoho/apiUrl", "https://www.zohoapis.com", "WorkDrive API host"},
        {"zoho/uploadUrl", "https://upload.zoho.com", "WorkDrive upload host"},
        {"zoho/settleMilliseconds", "1000",
         "Pause before a WorkDrive upload's result and a new file's link are asked for"},
        {"zoho/externalFilesUrl", "https://files-accl.zohoexternal.com",
         "WorkDrive external-files host (direct links)"},
        {"inspect/resourceDir", "",
         "Folder of the package inspection scripts (empty: found next to the program)"},
    };
    return table;
}

QString Config::environmentName(const QString& key) {
    QString out = QStringLiteral("VANTRY_");
    for (QChar c : key) {
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
    m_entries.clear();
    const QString path = filePath();
    const bool haveFile = QFileInfo::exists(path);
    QSettings file(path, QSettings::IniFormat);
    for (const Key& key : keys()) {
        const QString name = QString::fromLatin1(key.name);
        Entry entry{QString::fromUtf8(key.defaultValue), Source::Default};
        if (haveFile && file.contains(name))
            entry = {file.value(name).toString(), Source::File};
        const QByteArray env = qgetenv(environmentName(name).toLatin1().constData());
        if (qEnvironmentVariableIsSet(environmentName(name).toLatin1().constData()))
            entry = {QString::fromUtf8(env), Source::Environment};
        m_entries.insert(name, entry);
    }
}

QString Config::value(const QString& key) const {
    Q_ASSERT_X(m_entries.contains(key), "Config::value", qPrintable(key));
    return m_entries.value(key).value;
}

bool Config::boolValue(const QString& key) const {
    const QString v = value(key).trimmed().toLower();
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes") ||
           v == QLatin1String("on");
}

int Config::intValue(const QString& key) const {
    return value(key).trimmed().toInt();
}

Config::Source Config::source(const QString& key) const {
    return m_entries.value(key).source;
}

void Config::set(const QString& key, const QString& value) {
    m_entries[key] = {value, Source::Environment};
}
