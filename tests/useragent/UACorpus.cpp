#include "useragent/UACorpus.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace uacorpus {

namespace {

// The scalar forms the fixtures use: 'single quoted' ('' for a quote), "double quoted" (JSON-like
// escapes) and plain text.
QString yamlScalar(QString value) {
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))
        return value.mid(1, value.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
        const QJsonDocument doc = QJsonDocument::fromJson(QStringLiteral("[%1]").arg(value).toUtf8());
        return doc.array().at(0).toString();
    }
    return value;
}

} // namespace

QStringList loadAgents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QStringList agents;
    if (path.endsWith(QLatin1String(".json"))) {
        for (const QJsonValue& entry : QJsonDocument::fromJson(bytes).array()) {
            if (entry.isString())
                agents.append(entry.toString());
            for (const QJsonValue& instance : entry.toObject().value(QStringLiteral("instances")).toArray())
                agents.append(instance.toString());
        }
        return agents;
    }
    static const QRegularExpression key(QStringLiteral("^\\s*(?:-\\s+)?user_agent(?:_string)?:\\s(.*)$"));
    for (const QString& line : QString::fromUtf8(bytes).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = key.match(line);
        if (m.hasMatch())
            agents.append(yamlScalar(m.captured(1)));
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
