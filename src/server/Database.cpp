#include "server/Database.h"

#include "server/database/PostgresDatabase.h"
#include "server/database/SqliteDatabase.h"

#include <QDir>
#include <QUrl>
#include <QUrlQuery>

namespace {
const QString kSqlite = QStringLiteral("sqlite:");

bool isPostgres(const QString& url) {
    return url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"));
}
} // namespace

QString Database::sqliteUrl(const QString& dataDir) {
    return kSqlite + QDir(dataDir).filePath(fileName());
}

bool Database::isSupportedUrl(const QString& url) {
    return (url.startsWith(kSqlite) && url.size() > kSqlite.size()) || isPostgres(url);
}

QString Database::displayUrl(const QString& url) {
    if (!url.contains(QLatin1String("://")))
        return url;
    QUrl parsed(url);
    if (!parsed.isValid())
        return url.section(QLatin1String("://"), 0, 0) + QStringLiteral("://…");
    parsed.setPassword(QString());
    QUrlQuery query(parsed);
    query.removeAllQueryItems(QStringLiteral("password"));
    parsed.setQuery(query);
    return parsed.toString();
}

std::unique_ptr<Database> Database::open(const QString& url, QString* error, int connections) {
    QString ignored;
    if (!error)
        error = &ignored;
    if (url.startsWith(kSqlite) && url.size() > kSqlite.size())
        return SqliteDatabase::open(url.mid(kSqlite.size()), error, connections);
    if (isPostgres(url))
        return PostgresDatabase::open(url, error, connections);
    *error = QStringLiteral("unsupported database URL %1 (use sqlite:PATH or postgresql://…)")
                 .arg(displayUrl(url));
    return nullptr;
}
