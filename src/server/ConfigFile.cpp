#include "server/ConfigFile.h"

#include <QFile>

#include <sys/stat.h>

std::optional<ConfigFile> ConfigFile::read(const QString& path,
                                           const std::function<bool(const QString&)>& known,
                                           const std::function<bool(const QString&)>& repeatable,
                                           QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read --config %1").arg(path);
        return std::nullopt;
    }
    ConfigFile config;
    struct stat status {};
    config.worldReadable = ::fstat(file.handle(), &status) == 0 && (status.st_mode & S_IROTH) != 0;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString name = line.left(equals).trimmed();
        const auto complain = [&](const QString& what) {
            *error = QStringLiteral("%1 line %2: %3").arg(path).arg(number).arg(what);
            return std::nullopt;
        };
        if (equals < 0)
            return complain(QStringLiteral("wants name = value"));
        if (!known(name))
            return complain(QStringLiteral("unknown setting '%1'").arg(name));
        if (config.values.contains(name) && !repeatable(name))
            return complain(QStringLiteral("'%1' is given twice").arg(name));
        config.values[name] << line.mid(equals + 1).trimmed();
    }
    return config;
}
