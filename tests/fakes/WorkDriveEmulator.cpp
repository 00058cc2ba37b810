#include "WorkDriveEmulator.h"

#include "EmulatorCore.h"
#include "core/Config.h"

#include <QFile>
#include <QJsonArray>
#include <QUrl>

#include <tuple>

namespace {
using namespace emu;

void sendJson(Response& res, int status, const QJsonObject& body) {
    emu::sendJson(res, status, body, "application/vnd.api+json");
}

void zohoError(Response& res, int status, const QString& id, const QString& title) {
    sendJson(res, status, json(R"({"errors": [{"id": %1, "title": %2}]})", id, title));
}

const char* const uploadHeaders[] = {
    "x-service",    "invoker",     "oauth-scope",           "x-filename", "upload-id", "x-upload-id",
    "x-streammode", "x-parent_id", "x-override-name-exist", "x-uploadTo"};
} // namespace

struct WorkDriveEmulator::State {
    EmulatorCore& core;
    bool noToken = false;
    QString edition = QStringLiteral("ENTERPRISE");
    std::map<QString, std::pair<QString, QString>> folders; // id -> (name, parent), in id order
    QStringList folderOrder;
    QList<Upload> uploads;
    std::map<QString, QString> progress; // "upload_<zuid>_<id>" -> resource id
    std::map<QString, QString> links;    // link id -> resource id
    FaultQueue<Fault> faults;            // keyed by the fault itself: each kind belongs to one step
    QList<std::tuple<QString, int, QByteArray>> overrides;

    static QString key(Fault fault) { return QString::number(int(fault)); }
    bool takeFault(Fault fault) { return faults.take(key(fault)).has_value(); }

    bool authorized(const Request& req, Response& res) {
        if (core.accepts(EmulatorCore::credential(req, "Zoho-oauthtoken")))
            return true;
        zohoError(res, 401, QStringLiteral("F7003"), QStringLiteral("Invalid OAuth token"));
        return false;
    }

    void route(bool get, const std::string& pattern, std::function<void(const Request&, Response&)> handler) {
        auto wrapped = [this, handler](const Request& req, Response& res) {
            std::lock_guard lock(core.mutex);
            const QString line = QString::fromStdString(req.method + " " + req.path);
            core.requests.append(line);
            if (!authorized(req, res))
                return;
            for (qsizetype i = 0; i < overrides.size(); ++i) {
                const auto& [prefix, status, body] = overrides[i];
                if (line.startsWith(prefix)) {
                    res.status = status;
                    res.set_content(body.toStdString(), "application/vnd.api+json");
                    overrides.removeAt(i);
                    return;
                }
            }
            handler(req, res);
        };
        if (get)
            core.server.Get(pattern, wrapped);
        else
            core.server.Post(pattern, wrapped);
    }

    static QJsonObject attributes(const Request& req) {
        return parseJson(req.body)
            .value(QStringLiteral("data"))
            .toObject()
            .value(QStringLiteral("attributes"))
            .toObject();
    }

    void routes();
};

void WorkDriveEmulator::State::routes() {
    route(true, "/api/v1/users/me", [this](const Request& req, Response& res) {
        sendJson(res, 200,
                 json(R"({"data": {"id": %1, "type": "users",
            "attributes": {"email_id": "zylker@zylker.com", "display_name": "Zylker Admin",
                           "avatar_url": "https://contacts.zoho.com/file?ID=747938014&fs=thumb", "edition": %2},
            "relationships": {"enterprise": {"links": {"related": %3}}}}})",
                      userId, edition, core.base(req) + QStringLiteral("/api/v1/enterprise/e1")));
    });
    route(true, "/api/v1/enterprise/e1", [this](const Request& req, Response& res) {
        if (takeFault(Fault::BrokenChain))
            sendJson(res, 200, json(R"({"data": {"id": "e1", "type": "enterprise"}})"));
        else
            sendJson(
                res, 200,
                json(
                    R"({"data": {"id": "e1", "type": "enterprise", "relationships": {"currentuser": {"links": {"related": %1}}}}})",
                    core.base(req) + QStringLiteral("/api/v1/enterprise/e1/currentuser")));
    });
    route(true, "/api/v1/enterprise/e1/currentuser", [this](const Request& req, Response& res) {
        sendJson(
            res, 200,
            json(R"({"data": {"id": "m1", "relationships": {"privatespace": {"links": {"related": %1}}}}})",
                 core.base(req) + QStringLiteral("/api/v1/users/m1/privatespace")));
    });
    route(true, "/api/v1/users/m1/privatespace", [](const Request&, Response& res) {
        sendJson(res, 200, json(R"({"data": [{"id": %1, "type": "privatespace"}]})", privateSpace));
    });
    route(true, R"(/api/v1/privatespace/([^/]*)/folders)", [this](const Request& req, Response& res) {
        const QString id = QString::fromStdString(req.matches[1]);
        if (id != privateSpace) {
            zohoError(res, 404, QStringLiteral("R501"), QStringLiteral("Resource does not exist"));
            return;
        }
        QJsonArray data;
        for (const QString& folder : folderOrder) {
            if (folders[folder].second != id)
                continue;
            data.append(json(
                R"({"id": %1, "type": "files", "attributes": {"name": %2, "type": "folder", "is_folder": true, "parent_id": %3}})",
                folder, folders[folder].first, id));
        }
        sendJson(res, 200, json(R"({"data": %1})", data));
    });
    route(false, "/api/v1/files", [this](const Request& req, Response& res) {
        const QJsonObject a = attributes(req);
        if (takeFault(Fault::TechnicalError)) {
            zohoError(res, 500, QStringLiteral("R002"), QStringLiteral("Internal error"));
            return;
        }
        const QString id = randomId(37);
        folders[id] = {a.value(QStringLiteral("name")).toString(),
                       a.value(QStringLiteral("parent_id")).toString()};
        folderOrder.append(id);
        sendJson(res, 201, json(R"({"data": {"id": %1, "type": "files"}})", id));
    });
    core.server.Post("/upload", [this](const Request& req, Response& res, const ContentReader& reader) {
        Upload upload;
        bool ok = false;
        bool drop = false;
        {
            std::lock_guard lock(core.mutex);
            core.requests.append(QStringLiteral("POST /upload"));
            ok = authorized(req, res);
            drop = takeFault(Fault::DropUpload);
            for (const char* name : uploadHeaders)
                upload.headers.append(QString::fromLatin1(name) + QStringLiteral(": ") +
                                      QString::fromStdString(req.get_header_value(name)));
            upload.blob = core.newBlob(QStringLiteral("wd-blob"));
        }
        const bool complete = core.streamBody(reader, ok ? upload.blob : QString());
        if (!complete) {
            QFile::remove(upload.blob); // cut, or the client went away: nothing was uploaded
            dropAnswer(res);
            return;
        }
        if (!ok)
            return;
        if (drop) {
            dropAnswer(res);
            return;
        }
        std::lock_guard lock(core.mutex);
        upload.resourceId = randomId(37);
        upload.name =
            QUrl::fromPercentEncoding(QByteArray::fromStdString(req.get_header_value("x-filename")));
        upload.parent = QString::fromStdString(req.get_header_value("x-parent_id"));
        uploads.append(upload);
        progress[QStringLiteral("upload_%1_%2")
                     .arg(userId, QString::fromStdString(req.get_header_value("upload-id")))] =
            upload.resourceId;
        sendJson(res, 200, json(R"({"data": []})"));
    });
    route(true, "/uploadprogress", [this](const Request& req, Response& res) {
        const auto it = progress.find(QString::fromStdString(req.get_param_value("uploadid")));
        if (it == progress.end())
            sendJson(res, 200, json(R"({"AUDIT_INFO": {"statusCode": "D9200"}})"));
        else if (takeFault(Fault::NoResourceId))
            sendJson(res, 200, json(R"({"AUDIT_INFO": {"statusCode": "D201"}})"));
        else
            sendJson(res, 200,
                     json(R"({"RESOURCE_ID": %1, "AUDIT_INFO": {"statusCode": "D201", "RESOURCE_ID": %1}})",
                          it->second));
    });
    route(false, "/api/v1/links", [this](const Request& req, Response& res) {
        const QJsonObject a = attributes(req);
        // A link to an unknown resource is made too; it serves nothing.
        const QString resource = a.value(QStringLiteral("resource_id")).toString();
        const QString id = randomId(17);
        links[id] = resource;
        QJsonObject attributes =
            json(R"({"link": %1, "resource_id": %2, "link_name": %3})",
                 QStringLiteral("https://workdrive.zohoexternal.com/external/%1/download").arg(id), resource,
                 a.value(QStringLiteral("link_name")));
        if (!takeFault(Fault::LinkWithoutId))
            attributes.insert(QStringLiteral("id"), id);
        sendJson(res, 201,
                 json(R"({"data": {"id": %1, "type": "links", "attributes": %2}})", id, attributes));
    });
    core.server.Get(
        R"(/public/workdrive-external/download/([^/]+))", [this](const Request& req, Response& res) {
            std::lock_guard lock(core.mutex);
            const QString resource = QString::fromStdString(req.matches[1]);
            const QString linkId =
                parseJson(req.get_param_value("x-cli-msg")).value(QStringLiteral("linkId")).toString();
            const auto link = links.find(linkId);
            for (const Upload& upload : uploads) {
                if (upload.resourceId == resource && link != links.end() && link->second == resource) {
                    EmulatorCore::serveFile(res, upload.blob);
                    return;
                }
            }
            res.status = 404;
            res.set_content("<html><body>The link is invalid.</body></html>", "text/html");
        });
    core.server.Post("/oauth/v2/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(core.mutex);
        if (!core.refreshGrantMatches(req))
            sendJson(res, 200, json(R"({"error": "invalid_code"})"));
        else if (noToken)
            sendJson(res, 200, json(R"({"error": "Access Denied", "status": "failure",
                "error_description": "You have made too many requests continuously. Please try again after some time."})"));
        else
            sendJson(
                res, 200,
                json(R"({"access_token": %1, "api_domain": %2, "token_type": "Bearer", "expires_in": 3600})",
                     core.issueToken(QStringLiteral("1000.emu"), 32), core.base(req)));
    });
}

WorkDriveEmulator::WorkDriveEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(keep(new State{core()})) {}

void WorkDriveEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    for (ConfigKey key : {ConfigKey::ZohoApiUrl, ConfigKey::ZohoUploadUrl, ConfigKey::ZohoAccountsUrl,
                          ConfigKey::ZohoExternalFilesUrl})
        config.set(key, baseUrl());
    config.set(ConfigKey::ZohoClientId, QStringLiteral("1000.EMU0CLIENT0ID0000000000000000000"));
    config.set(ConfigKey::ZohoClientSecret, QStringLiteral("emu-zoho-client-secret"));
}

void WorkDriveEmulator::setTokenAnswersWithoutToken(bool on) {
    core().locked([&] { d->noToken = on; });
}
void WorkDriveEmulator::setEdition(const QString& edition) {
    core().locked([&] { d->edition = edition; });
}
void WorkDriveEmulator::injectFault(Fault fault, int times) {
    core().locked([&] { d->faults.push(State::key(fault), fault, times); });
}
QList<WorkDriveEmulator::Upload> WorkDriveEmulator::uploads() const {
    return core().locked([&] { return d->uploads; });
}

QString WorkDriveEmulator::addFolder(const QString& name, const QString& parent) {
    const QString id = randomId(37);
    core().locked([&] {
        d->folders[id] = {name, parent};
        d->folderOrder.append(id);
    });
    return id;
}

void WorkDriveEmulator::answerOnce(const QString& request, int status, const QByteArray& body) {
    core().locked([&] { d->overrides.append({request, status, body}); });
}

std::pair<QString, QString> WorkDriveEmulator::folder(const QString& id) const {
    return core().locked(
        [&] { return d->folders.count(id) ? d->folders[id] : std::pair<QString, QString>(); });
}
