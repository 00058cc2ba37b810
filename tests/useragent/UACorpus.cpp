#include "useragent/UACorpus.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace uacorpus {

QStringList loadAgents(const QString& path) {
    const QByteArray bytes = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QStringList agents;
    if (path.endsWith(".json")) {
        for (const QJsonValue& entry : QJsonDocument::fromJson(bytes).array()) {
            if (entry.isString())
                agents.append(entry.toString());
            for (const QJsonValue& instance : entry.toObject().value("instances").toArray())
                agents.append(instance.toString());
        }
        return agents;
    }
    static const QRegularExpression key("^\\s*(?:-\\s+)?user_agent(?:_string)?:\\s(.*)$");
    for (const QString& line : QString::fromUtf8(bytes).split('\n')) {
        const QRegularExpressionMatch m = key.match(line);
        const QString value = m.captured(1).trimmed();
        // The scalar forms the fixtures use: 'single quoted' ('' for a quote), "double quoted"
        // (JSON-like escapes) and plain text.
        if (!m.hasMatch())
            continue;
        else if (value.size() >= 2 && value.startsWith('\'') && value.endsWith('\''))
            agents.append(value.mid(1, value.size() - 2).replace("''", "'"));
        else if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            agents.append(QJsonDocument::fromJson("[" + value.toUtf8() + "]").array().at(0).toString());
        else
            agents.append(value);
    }
    return agents;
}

QStringList loadAllAgents(const QString& folderPath) {
    QStringList agents;
    const QDir folder(folderPath);
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
        agents += loadAgents(folder.filePath(name));
    return agents;
}

} // namespace uacorpus
