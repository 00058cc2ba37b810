#include "server/Backup.h"

#include "server/Database.h"
#include "server/PrivateFiles.h"
#include "server/ServerOptions.h"
#include "server/storage/FileStore.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <memory>

#include <sqlite3.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
// The database as one read transaction sees it, written to target (which must not exist).
QString snapshot(const QString& source, const QString& target) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(source.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
    if (opened != SQLITE_OK)
        return QStringLiteral("cannot open %1: %2").arg(source, QString::fromUtf8(sqlite3_errmsg(db)));
    // A writer's commit holds the file only briefly; wait for it rather than fail.
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "VACUUM INTO ?", -1, &statement, nullptr);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(statement, sqlite3_finalize);
    const QByteArray path = target.toUtf8();
    sqlite3_bind_text(statement, 1, path.constData(), int(path.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(statement) != SQLITE_DONE)
        return QStringLiteral("cannot copy the database %1: %2")
            .arg(source, QString::fromUtf8(sqlite3_errmsg(db)));
    return {};
}

// Copies the committed files under from into to, folders and files with their modes. A file that
// goes away meanwhile (replaced or deleted) is left out; *files counts those copied.
QString copyTree(const fs::path& from, const fs::path& to, int* files) {
    std::error_code ec;
    fs::create_directory(to, ec);
    fs::permissions(to, fs::status(from, ec).permissions(), ec);
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = to / it->path().filename();
        std::error_code entry;
        const fs::file_status status = it->symlink_status(entry);
        if (fs::is_directory(status)) {
            if (const QString problem = copyTree(it->path(), target, files); !problem.isEmpty())
                return problem;
        } else if (fs::is_regular_file(status) &&
                   !FileStore::isUnfinishedUpload(it->path().filename().string())) {
            if (fs::copy_file(it->path(), target, entry)) {
                fs::permissions(target, status.permissions(), entry);
                ++*files;
            } else if (fs::exists(it->path())) {
                return QStringLiteral("cannot copy %1: %2")
                    .arg(QString::fromStdString(it->path().string()),
                         QString::fromStdString(entry.message()));
            }
        }
    }
    return ec ? QStringLiteral("cannot read %1: %2")
                    .arg(QString::fromStdString(from.string()), QString::fromStdString(ec.message()))
              : QString();
}
} // namespace

int runBackup(const ServerOptions& options, QString* message) {
    const auto fail = [message](const QString& why) {
        *message = QStringLiteral("vantry-server: backup: ") + why;
        return 1;
    };
    const QString url = options.databaseUrl();
    if (!url.startsWith(QLatin1String("sqlite:")))
        return fail(QStringLiteral("the records are in PostgreSQL: back them up with pg_dump"));
    const QString database = url.mid(7);
    if (!QFileInfo::exists(database))
        return fail(
            QStringLiteral("no database at %1 (give the server's --data-dir or --database)").arg(database));
    const QString to = QDir(options.backupTo).absolutePath();
    if (QDir(to).exists() &&
        !QDir(to).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        return fail(QStringLiteral("%1 is not empty").arg(to));
    // Everything written here is the service account's alone, whatever the umask says.
    ::umask(077);
    if (!makePrivateFolder(to, true))
        return fail(QStringLiteral("cannot make %1").arg(to));

    // The records first: every file they name that was committed by then is still on disk when
    // the walk below reaches it.
    if (const QString problem = snapshot(database, to + QLatin1Char('/') + Database::fileName());
        !problem.isEmpty())
        return fail(problem);
    std::error_code ec;
    const fs::path token = fs::path(options.dataDir.toStdString()) / "storage-token";
    if (fs::exists(token) && !fs::copy_file(token, fs::path(to.toStdString()) / "storage-token", ec))
        return fail(
            QStringLiteral("cannot copy the storage token: %1").arg(QString::fromStdString(ec.message())));

    int files = 0;
    QString where = QStringLiteral("not copied: they are in the bucket");
    if (!options.storage.startsWith(QLatin1String("s3://"))) {
        const QString root = options.storage.isEmpty() ? options.dataDir + QStringLiteral("/files")
                                                       : options.storage.mid(5); // after "file:"
        if (QFileInfo::exists(root)) {
            if (const QString problem = copyTree(root.toStdString(), to.toStdString() + "/files", &files);
                !problem.isEmpty())
                return fail(problem);
        }
        where = QStringLiteral("%1 copied").arg(files);
    }
    *message =
        QStringLiteral("vantry-server: backup of %1 in %2 (stored files: %3); serve it with --data-dir %2")
            .arg(Database::displayUrl(url), to, where);
    return 0;
}
