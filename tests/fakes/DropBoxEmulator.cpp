#include "DropBoxEmulatorState.h"

#include "core/Config.h"

void DropBoxEmulator::State::routes() {
    api("files/create_folder_v2", false, [this](const QJsonObject& arg, Response& res, const ContentReader*) {
        const QString display = arg.value(QStringLiteral("path")).toString();
        const QString lower = display.toLower();
        if (!display.startsWith(QLatin1Char('/'))) {
            routeError(res, QStringLiteral("path/malformed_path/.."),
                       json(R"({".tag": "path", "path": {".tag": "malformed_path"}})"));
            return;
        }
        if (folders.count(lower) || files.count(lower)) {
            const QString kind = folders.count(lower) ? QStringLiteral("folder") : QStringLiteral("file");
            routeError(
                res, QStringLiteral("path/conflict/%1/...").arg(kind),
                json(R"({".tag": "path", "path": {".tag": "conflict", "conflict": {".tag": %1}}})", kind));
            return;
        }
        makeParents(display);
        folders.emplace(lower, display);
        sendJson(res, 200,
                 json(R"({"metadata": {"name": %1, "id": %2, "path_lower": %3, "path_display": %4}})",
                      display.section(QLatin1Char('/'), -1), QStringLiteral("id:") + randomId(22), lower,
                      display));
    });

    api("files/upload", true, [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
        const QString blob = receive(*reader);
        if (blob.isEmpty())
            return;
        std::lock_guard lock(core.mutex);
        if (const std::optional<QJsonObject> meta = commit(arg, blob, QFileInfo(blob).size()))
            sendJson(res, 200, *meta);
        else
            routeError(res, QStringLiteral("path/conflict/folder/.."),
                       json(R"({".tag": "path", "reason": %1, "upload_session_id": %2})",
                            json(folderConflict), QStringLiteral("pid_upload_session:") + randomId(40)));
    });

    sessionRoutes();

    api("sharing/create_shared_link_with_settings", false,
        [this](const QJsonObject& arg, Response& res, const ContentReader*) {
            const QString lower = arg.value(QStringLiteral("path")).toString().toLower();
            const auto it = files.find(lower);
            if (it == files.end()) {
                routeError(res, QStringLiteral("path/not_found/.."),
                           json(R"({".tag": "path", "path": {".tag": "not_found"}})"));
                return;
            }
            FileEntry& entry = it->second;
            if (!entry.linkToken.isEmpty() && omitLinkMetadata) {
                routeError(res, QStringLiteral("shared_link_already_exists/.."),
                           json(R"({".tag": "shared_link_already_exists"})"));
            } else if (!entry.linkToken.isEmpty()) {
                routeError(
                    res, QStringLiteral("shared_link_already_exists/metadata/.."),
                    json(
                        R"({".tag": "shared_link_already_exists", "shared_link_already_exists": {".tag": "metadata", "metadata": %1}})",
                        linkMetadata(lower, entry)));
            } else {
                entry.linkToken = randomId(21);
                entry.rlkey = randomId(25);
                sendJson(res, 200, linkMetadata(lower, entry));
            }
        });

    api("sharing/list_shared_links", false,
        [this](const QJsonObject& arg, Response& res, const ContentReader*) {
            QJsonArray links;
            const auto it = files.find(arg.value(QStringLiteral("path")).toString().toLower());
            if (it != files.end() && !it->second.linkToken.isEmpty())
                links.append(linkMetadata(it->first, it->second));
            sendJson(res, 200, json(R"({"links": %1, "has_more": false})", links));
        });

    // An account without a profile photo.
    api("users/get_current_account", false, [](const QJsonObject&, Response& res, const ContentReader*) {
        sendJson(res, 200, json(R"json({"account_id": "dbid:AAH4f99T0taONIb-OurWxbNQ6ywGRopQngc",
            "name": {"display_name": "Franz Ferdinand (Personal)", "given_name": "Franz"}, "email": "franz@example.com",
            "email_verified": true, "account_type": {".tag": "basic"}})json"));
    });

    core.server.Post("/oauth2/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(core.mutex);
        core.requests.append(QStringLiteral("oauth2/token"));
        if (core.refreshGrantMatches(req))
            sendJson(res, 200,
                     json(R"({"access_token": %1, "token_type": "bearer", "expires_in": 14400})",
                          core.issueToken(QStringLiteral("sl.emu-"), 40)));
        else
            sendJson(
                res, 400,
                json(
                    R"({"error": "invalid_grant", "error_description": "refresh token is invalid or revoked"})"));
    });

    core.server.Get(R"(/scl/fi/([^/]+)/([^/]+))", [this](const Request& req, Response& res) {
        const QString linkToken = QString::fromStdString(req.matches[1]);
        std::lock_guard lock(core.mutex);
        for (const auto& [lower, entry] : files) {
            if (entry.linkToken != linkToken)
                continue;
            if (req.get_param_value("rlkey") != entry.rlkey.toStdString())
                break;
            EmulatorCore::serveFile(res, entry.blob);
            return;
        }
        res.status = 404;
        res.set_content("link not found", "text/plain");
    });
}

DropBoxEmulator::DropBoxEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(keep(new State{core()})) {}

QString DropBoxEmulator::shareHost() const {
    return QStringLiteral("localhost:%1").arg(port());
}

void DropBoxEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    config.set(ConfigKey::DropboxApiUrl, baseUrl());
    config.set(ConfigKey::DropboxContentUrl, baseUrl());
    config.set(ConfigKey::DropboxTokenUrl, baseUrl() + QStringLiteral("/oauth2/token"));
    config.set(ConfigKey::DropboxShareHost, shareHost());
    config.set(ConfigKey::DropboxDirectHost, QStringLiteral("127.0.0.1:%1").arg(port()));
    config.set(ConfigKey::DropboxAppKey, QStringLiteral("emu0app0key0001"));
}

void DropBoxEmulator::setSlowBytesPerSecond(qint64 rate) {
    core().locked([&] { d->slowRate = qMax<qint64>(rate, 1); });
}
void DropBoxEmulator::setOmitExistingLinkMetadata(bool omit) {
    core().locked([&] { d->omitLinkMetadata = omit; });
}

void DropBoxEmulator::injectFault(const QString& route, Fault fault, int times, int retryAfterSeconds) {
    const QString key = fault == Fault::ExpireSession ? route + QStringLiteral("#expire") : route;
    core().locked([&] { d->faults.push(key, fault, times, retryAfterSeconds); });
}

QString DropBoxEmulator::storedFile(const QString& remotePath) const {
    return core().locked([&] {
        return d->files.count(remotePath.toLower()) ? d->files[remotePath.toLower()].blob : QString();
    });
}
