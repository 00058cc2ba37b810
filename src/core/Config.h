#pragma once

#include <QHash>
#include <QString>

#include <vector>

// Every host, client identifier, secret and base URL of the application. A value comes from,
// in rising precedence: the compiled-in default, the INI file (Config::filePath()), and the
// environment variable VANTRY_<GROUP>_<NAME> (for "backend/baseUrl": VANTRY_BACKEND_BASE_URL).
class Config {
public:
    struct Key {
        const char* name;         // "group/camelCaseName", also the INI key
        const char* defaultValue; // compiled-in default
        const char* description;  // one line for the README and `vantry-cli config`
        bool secret = false;      // never printed
    };

    enum class Source { Default, File, Environment };

    // The table of known keys, in documentation order.
    static const std::vector<Key>& keys();
    static QString environmentName(const QString& key);

    // The process-wide configuration, read on first use.
    static Config& instance();
    // Where the INI file lives: VANTRY_CONFIG if set, else "<config folder>/Vantry/config.ini".
    static QString filePath();

    // Reads defaults, the file and the environment again (tests change them between cases).
    void reload();

    QString value(const QString& key) const;
    bool boolValue(const QString& key) const;
    int intValue(const QString& key) const;
    Source source(const QString& key) const;

    // Tests and the command line override single values for this process.
    void set(const QString& key, const QString& value);

private:
    Config();
    struct Entry {
        QString value;
        Source source = Source::Default;
    };
    QHash<QString, Entry> m_entries;
};

// Shorthand for Config::instance().value(key).
inline QString configValue(const QString& key) {
    return Config::instance().value(key);
}
