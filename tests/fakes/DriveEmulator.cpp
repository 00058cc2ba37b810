#include "DriveEmulator.h"

#include "EmulatorCore.h"
#include "core/Config.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace {
using namespace emu;

QString driveId(int n) {
    return randomId(n, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-");
}

void sendJson(Response& res, int status, const QJsonObject& body) {
    emu::sendJson(res, status, body, "application/json; charset=UTF-8");
}

void googleError(Response& res, int code, const QString& reason, const QString& message) {
    sendJson(
        res, code,
        json(
            R"({"error": {"code": %1, "message": %2, "errors": [{"domain": "global", "reason": %3, "message": %2}]}})",
            code, message, reason));
}

struct Session {
    QString name, parent, mimeType, blob;
    qint64 stored = 0;
    QString fileId; // set once complete
};
} // namespace

struct DriveEmulator::State {
    EmulatorCore& core;
    bool refreshWithoutToken = false;
    std::vector<Item> items;
    std::map<QString, Session> sessions;
    FaultQueue<Fault> faults;

    Item* find(const QString& id) {
        const auto it = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.id == id; });
        return it == items.end() ? nullptr : &*it;
    }

    bool authorized(const Request& req, Response& res) {
        QString token = EmulatorCore::credential(req, "Bearer");
        if (token.isEmpty())
            token = QString::fromStdString(req.get_param_value("access_token"));
        std::lock_guard lock(core.mutex);
        if (core.accepts(token))
            return true;
        res.set_header("WWW-Authenticate",
                       "Bearer realm=\"https://accounts.google.com/\", error=\"invalid_token\"");
        googleError(res, 401, QStringLiteral("authError"), QStringLiteral("Invalid Credentials"));
        return false;
    }

    // Answers the next fault of a kind other than "chunk"; true when it came.
    bool answerFault(const QString& kind, Response& res) {
        const auto fault = faults.take(kind);
        if (fault && fault->fault == Fault::ServerError)
            googleError(res, 503, QStringLiteral("backendError"), QStringLiteral("Backend Error"));
        else if (fault)
            googleError(res, 403, QStringLiteral("storageQuotaExceeded"),
                        QStringLiteral("The user's Drive storage quota has been exceeded."));
        return fault.has_value();
    }

    QJsonObject fileJson(const Item& item) const {
        return json(R"({"kind": "drive#file", "id": %1, "name": %2, "mimeType": %3})", item.id, item.name,
                    item.mimeType);
    }

    // Handles a JSON route under the bearer check, the request log and the fault queue.
    void jsonRoute(bool get, const std::string& pattern, const QString& kind,
                   std::function<void(const Request&, const QJsonObject&, Response&)> handler) {
        auto wrapped = [this, kind, handler](const Request& req, Response& res) {
            if (!authorized(req, res))
                return;
            std::lock_guard lock(core.mutex);
            core.requests.append(kind);
            if (!answerFault(kind, res))
                handler(req, parseJson(req.body), res);
        };
        if (get)
            core.server.Get(pattern, wrapped);
        else
            core.server.Post(pattern, wrapped);
    }

    void routes();
};

void DriveEmulator::State::routes() {
    jsonRoute(true, "/drive/v3/files", QStringLiteral("list"),
              [this](const Request& req, const QJsonObject&, Response& res) {
                  // Only the one query term the client uses; without it trashed items are listed too.
                  const bool skipTrashed = req.get_param_value("q") == "trashed = false";
                  // orderBy=folder: folders first, otherwise in creation order.
                  QJsonArray files;
                  for (int pass = 0; pass < 2; ++pass) {
                      for (const Item& item : items) {
                          if (item.trashed && skipTrashed)
                              continue;
                          if ((item.mimeType == QLatin1String("application/vnd.google-apps.folder")) ==
                              (pass == 0))
                              files.append(fileJson(item));
                      }
                  }
                  sendJson(res, 200, json(R"({"kind": "drive#fileList", "files": %1})", files));
              });

    jsonRoute(false, "/drive/v3/files", QStringLiteral("create"),
              [this](const Request&, const QJsonObject& body, Response& res) {
                  Item item{driveId(33), body.value(QStringLiteral("name")).toString(),
                            body.value(QStringLiteral("mimeType")).toString(),
                            body.value(QStringLiteral("parents")).toArray().first().toString()};
                  items.push_back(item);
                  sendJson(res, 200, fileJson(item));
              });

    jsonRoute(false, R"(/drive/v3/files/([^/]+)/permissions)", QStringLiteral("permission"),
              [this](const Request& req, const QJsonObject& body, Response& res) {
                  // An unknown file stays unshared: its link serves nothing.
                  if (Item* item = find(QString::fromStdString(req.matches[1])))
                      item->anyoneReader =
                          body.value(QStringLiteral("type")).toString() == QLatin1String("anyone") &&
                          body.value(QStringLiteral("role")).toString() == QLatin1String("reader");
                  sendJson(res, 200, json(R"({"id": "anyoneWithLink"})"));
              });

    jsonRoute(
        true, "/oauth2/v3/userinfo", QStringLiteral("userinfo"),
        [](const Request&, const QJsonObject&, Response& res) {
            sendJson(
                res, 200,
                json(R"({"sub": "110248495921238986420", "name": "Ada Lovelace", "email": "ada@example.com",
                                    "picture": "https://lh3.googleusercontent.com/a/ACg8ocK3=s96-c", "email_verified": true})"));
        });

    jsonRoute(false, "/upload/drive/v3/files", QStringLiteral("upload"),
              [this](const Request& req, const QJsonObject& body, Response& res) {
                  const QString id = driveId(40);
                  const Session& session =
                      sessions[id] = {body.value(QStringLiteral("name")).toString(),
                                      body.value(QStringLiteral("parents")).toArray().first().toString(),
                                      QString::fromStdString(req.get_header_value("X-Upload-Content-Type")),
                                      core.newBlob(QStringLiteral("drive-blob"))};
                  QFile(session.blob).open(QIODevice::WriteOnly);
                  res.status = 200;
                  res.set_header("Location",
                                 (core.base(req) +
                                  QStringLiteral("/upload/drive/v3/files?uploadType=resumable&upload_id=") +
                                  id)
                                     .toStdString());
              });

    core.server.Put(
        "/upload/drive/v3/files", [this](const Request& req, Response& res, const ContentReader& reader) {
            const auto drain = [&] { core.streamBody(reader, QString()); };
            if (!authorized(req, res)) {
                drain();
                return;
            }
            const QString id = QString::fromStdString(req.get_param_value("upload_id"));
            const QString range = QString::fromStdString(req.get_header_value("Content-Range"));
            Session session;
            {
                std::lock_guard lock(core.mutex);
                core.requests.append(QStringLiteral("chunk ") + range);
                if (!range.contains(QLatin1Char('*')) && faults.take(QStringLiteral("chunk")))
                    sessions.erase(id);
                const auto it = sessions.find(id);
                if (it == sessions.end()) {
                    drain();
                    googleError(res, 404, QStringLiteral("notFound"),
                                QStringLiteral("Upload session not found."));
                    return;
                }
                session = it->second;
            }
            // "bytes a-b/total" or "bytes */total"
            const QString value = range.mid(6);
            const qint64 total = value.section(QLatin1Char('/'), 1).toLongLong();
            const bool query = value.startsWith(QLatin1Char('*'));
            const qint64 first = query ? session.stored : value.section(QLatin1Char('-'), 0, 0).toLongLong();
            // Out of order: nothing is kept, the answer names what is stored.
            const bool ok =
                core.streamBody(reader, !query && first == session.stored ? session.blob : QString(), true);
            std::lock_guard lock(core.mutex);
            Session& stored = sessions[id];
            stored.stored = QFileInfo(stored.blob).size();
            if (!ok) {
                dropAnswer(res);
                return;
            }
            if (stored.stored == total) {
                if (stored.fileId.isEmpty())
                    stored.fileId = items
                                        .emplace_back(Item{driveId(33), stored.name, stored.mimeType,
                                                           stored.parent, total, stored.blob})
                                        .id;
                sendJson(res, 200, fileJson(*find(stored.fileId)));
                return;
            }
            res.status = 308;
            if (stored.stored > 0)
                res.set_header("Range", "bytes=0-" + std::to_string(stored.stored - 1));
        });

    // The public download link: bytes for anyone once the file is shared, a warning page instead
    // above the virus-scan limit unless the link carries the confirmation.
    core.server.Get("/download", [this](const Request& req, Response& res) {
        std::lock_guard lock(core.mutex);
        core.requests.append(QStringLiteral("download"));
        if (answerFault(QStringLiteral("download"), res))
            return;
        const Item* file = find(QString::fromStdString(req.get_param_value("id")));
        if (!file || !file->anyoneReader || file->blob.isEmpty()) {
            res.status = 404;
            res.set_content("<html><title>Google Drive - Page Not Found</title></html>", "text/html");
            return;
        }
        if (file->size > 1000 && req.get_param_value("confirm") != "t") {
            res.set_content("<html><title>Google Drive - Virus scan warning</title><form "
                            "action=\"/download\"><input name=\"confirm\" value=\"t\"></form></html>",
                            "text/html; charset=utf-8");
            return;
        }
        EmulatorCore::serveFile(res, file->blob);
        res.set_header("Content-Disposition", "attachment");
    });

    core.server.Post("/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(core.mutex);
        if (!core.refreshGrantMatches(req)) {
            sendJson(res, 400, json(R"({"error": "invalid_grant", "error_description": "Bad Request"})"));
            return;
        }
        if (refreshWithoutToken) {
            sendJson(res, 200, json(R"({"token_type": "Bearer"})"));
            return;
        }
        sendJson(res, 200,
                 json(R"({"access_token": %1, "expires_in": 3599, "token_type": "Bearer"})",
                      core.issueToken(QStringLiteral("ya29.emu-"), 40)));
    });
}

DriveEmulator::DriveEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(keep(new State{core()})) {}

void DriveEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    config.set(ConfigKey::GoogleDriveUrl, baseUrl() + QStringLiteral("/drive/v3"));
    config.set(ConfigKey::GoogleUploadUrl, baseUrl() + QStringLiteral("/upload/drive/v3"));
    config.set(ConfigKey::GoogleUserInfoUrl, baseUrl() + QStringLiteral("/oauth2/v3/userinfo"));
    config.set(ConfigKey::GoogleTokenUrl, baseUrl() + QStringLiteral("/token"));
    config.set(ConfigKey::GoogleDownloadUrl, baseUrl() + QStringLiteral("/download"));
    config.set(ConfigKey::GoogleClientId, QStringLiteral("123-emu.apps.googleusercontent.com"));
    config.set(ConfigKey::GoogleClientSecret, QStringLiteral("emu-client-secret"));
}

void DriveEmulator::setRefreshWithoutToken(bool on) {
    core().locked([&] { d->refreshWithoutToken = on; });
}
void DriveEmulator::injectFault(const QString& kind, Fault fault, int times) {
    core().locked([&] { d->faults.push(kind, fault, times); });
}

QString DriveEmulator::addItem(const QString& name, bool folder, const QString& parent) {
    const QString mimeType =
        folder ? QStringLiteral("application/vnd.google-apps.folder") : QStringLiteral("text/plain");
    return core().locked([&] { return d->items.emplace_back(Item{driveId(33), name, mimeType, parent}).id; });
}

void DriveEmulator::trash(const QString& id) {
    core().locked([&] {
        if (Item* item = d->find(id))
            item->trashed = true;
    });
}

std::optional<DriveEmulator::Item> DriveEmulator::item(const QString& id) const {
    return core().locked([&] {
        const Item* item = d->find(id);
        return item ? std::optional(*item) : std::nullopt;
    });
}

QList<DriveEmulator::Item> DriveEmulator::items() const {
    return core().locked([&] { return QList<Item>(d->items.begin(), d->items.end()); });
}
