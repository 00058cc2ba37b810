#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The settings file of vantry-server (--config FILE): one "name = value" line per long option,
// blank lines and lines starting with '#' ignored; a repeatable option may stand on several lines.
struct ConfigFile {
    // name → its values in file order.
    QMap<QString, QStringList> values;
    // Whether the file can be read by every account on the machine.
    bool worldReadable = false;

    // Reads path; known(name) tells a long option, repeatable(name) one that may be given more than
    // once. On a problem returns nullopt with one line in *error.
    static std::optional<ConfigFile> read(const QString& path,
                                          const std::function<bool(const QString&)>& known,
                                          const std::function<bool(const QString&)>& repeatable,
                                          QString* error);
};
