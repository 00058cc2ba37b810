#include "server/ResetSecret.h"

#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/ServerOptions.h"

#include <QFileInfo>

int runResetSecret(const ServerOptions& options, QString* message) {
    const QString url = options.databaseUrl();
    const QString shown = Database::displayUrl(url);
    // Opening would make an empty database where a wrong --data-dir points.
    if (url.startsWith(QLatin1String("sqlite:")) && !QFileInfo::exists(url.mid(7))) {
        *message =
            QStringLiteral("vantry-server: no database at %1 (give the server's --data-dir or --database)")
                .arg(url.mid(7));
        return 1;
    }
    QString error;
    const std::unique_ptr<Database> database = Database::open(url, &error, 1);
    if (!database) {
        *message = QStringLiteral("vantry-server: ") + error;
        return 1;
    }
    const std::optional<bool> found = database->resetSecret(options.resetSecretOf);
    if (!found) {
        *message = QStringLiteral("vantry-server: the database %1 failed").arg(shown);
        return 1;
    }
    if (!*found) {
        *message = QStringLiteral("vantry-server: no user %1 in %2").arg(options.resetSecretOf, shown);
        return 1;
    }
    const auto life = std::chrono::ceil<std::chrono::seconds>(ApiHandlers::Settings{}.secretLife);
    *message =
        QStringLiteral("vantry-server: the secret of %1 is reset in %2. Running servers refuse the old "
                       "one within %3 s; the user's next /addnewuser issues a new one.")
            .arg(options.resetSecretOf, shown)
            .arg(life.count());
    return 0;
}
