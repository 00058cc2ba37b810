#include "WorkDriveEmulator.h"

#include "backend/Config.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRandomGenerator>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

namespace {
using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

QString randomId(int n) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString out;
    for (int i = 0; i < n; ++i)
        out += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(36)]);
    return out;
}

void sendJson(Response& res, int status, const QJsonObject& body) {
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/vnd.api+json");
}

void zohoError(Response& res, int status, const QString& id, const QString& title) {
    sendJson(res, status, {{QStringLiteral("errors"), QJsonArray{QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("title"), title}}}}});
}

QJsonObject related(const QString& url) {
    return {{QStringLiteral("links"), QJsonObject{{QStringLiteral("related"), url}}}};
}

const char* const uploadHeaders[] = {"x-service", "invoker", "oauth-scope", "x-filename", "upload-id",
                                     "x-upload-id", "x-streammode", "x-parent_id", "x-override-name-exist", "x-uploadTo"};
} // namespace

struct WorkDriveEmulator::State {
    QString root;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    std::set<QString> tokens;
    QString refreshToken;
    bool noToken = false;
    int tokenRequests = 0;
    QString edition = QStringLiteral("ENTERPRISE");
    std::map<QString, std::pair<QString, QString>> folders; // id -> (name, parent), in id order
    QStringList folderOrder;
    QList<Upload> uploads;
    std::map<QString, QString> progress;  // "upload_<zuid>_<id>" -> resource id
    std::map<QString, QString> links;     // link id -> resource id
    std::map<Fault, int> faults;
    QList<std::tuple<QString, int, QByteArray>> overrides;
    QStringList requests;

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

    bool takeFault(Fault fault) {
        auto it = faults.find(fault);
        if (it == faults.end() || it->second <= 0)
            return false;
        --it->second;
        return true;
    }

    bool authorized(const Request& req, Response& res) {
        const std::string header = req.get_header_value("Authorization");
        const QString token = QString::fromStdString(header).mid(16);
        if (header.rfind("Zoho-oauthtoken ", 0) == 0 && tokens.count(token))
            return true;
        zohoError(res, 401, QStringLiteral("F7003"), QStringLiteral("Invalid OAuth token"));
        return false;
    }

    void route(bool get, const std::string& pattern, std::function<void(const Request&, Response&)> handler) {
        auto wrapped = [this, handler](const Request& req, Response& res) {
            std::lock_guard lock(mutex);
            const QString line = QString::fromStdString(req.method + " " + req.path);
            requests.append(line);
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
            server.Get(pattern, wrapped);
        else
            server.Post(pattern, wrapped);
    }

    void routes();
};

void WorkDriveEmulator::State::routes() {
    route(true, "/api/v1/users/me", [this](const Request&, Response& res) {
        sendJson(res, 200, {{QStringLiteral("data"),
                             QJsonObject{{QStringLiteral("id"), userId},
                                         {QStringLiteral("type"), QStringLiteral("users")},
                                         {QStringLiteral("attributes"),
                                          QJsonObject{{QStringLiteral("email_id"), QStringLiteral("zylker@zylker.com")},
                                                      {QStringLiteral("display_name"), QStringLiteral("Zylker Admin")},
                                                      {QStringLiteral("avatar_url"), QStringLiteral("https://contacts.zoho.com/file?ID=747938014&fs=thumb")},
                                                      {QStringLiteral("edition"), edition}}},
                                         {QStringLiteral("relationships"),
                                          QJsonObject{{QStringLiteral("enterprise"), related(base() + QStringLiteral("/api/v1/enterprise/e1"))}}}}}});
    });
    route(true, "/api/v1/enterprise/e1", [this](const Request&, Response& res) {
        QJsonObject data{{QStringLiteral("id"), QStringLiteral("e1")}, {QStringLiteral("type"), QStringLiteral("enterprise")}};
        if (!takeFault(Fault::BrokenChain))
            data.insert(QStringLiteral("relationships"),
                        QJsonObject{{QStringLiteral("currentuser"), related(base() + QStringLiteral("/api/v1/enterprise/e1/currentuser"))}});
        sendJson(res, 200, {{QStringLiteral("data"), data}});
    });
    route(true, "/api/v1/enterprise/e1/currentuser", [this](const Request&, Response& res) {
        sendJson(res, 200, {{QStringLiteral("data"),
                             QJsonObject{{QStringLiteral("id"), QStringLiteral("m1")},
                                         {QStringLiteral("relationships"),
                                          QJsonObject{{QStringLiteral("privatespace"), related(base() + QStringLiteral("/api/v1/users/m1/privatespace"))}}}}}});
    });
    route(true, "/api/v1/users/m1/privatespace", [](const Request&, Response& res) {
        sendJson(res, 200, {{QStringLiteral("data"), QJsonArray{QJsonObject{{QStringLiteral("id"), privateSpace},
                                                                            {QStringLiteral("type"), QStringLiteral("privatespace")}}}}});
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
            data.append(QJsonObject{{QStringLiteral("id"), folder},
                                    {QStringLiteral("type"), QStringLiteral("files")},
                                    {QStringLiteral("attributes"), QJsonObject{{QStringLiteral("name"), folders[folder].first},
                                                                               {QStringLiteral("type"), QStringLiteral("folder")},
                                                                               {QStringLiteral("is_folder"), true},
                                                                               {QStringLiteral("parent_id"), id}}}});
        }
        sendJson(res, 200, {{QStringLiteral("data"), data}});
    });
    route(false, "/api/v1/files", [this](const Request& req, Response& res) {
        const QJsonObject a = QJsonDocument::fromJson(QByteArray::fromStdString(req.body))
                                  .object()
                                  .value(QStringLiteral("data"))
                                  .toObject()
                                  .value(QStringLiteral("attributes"))
                                  .toObject();
        if (takeFault(Fault::TechnicalError)) {
            zohoError(res, 500, QStringLiteral("R002"), QStringLiteral("Internal error"));
            return;
        }
        const QString parent = a.value(QStringLiteral("parent_id")).toString();
        if (parent != privateSpace && !folders.count(parent)) {
            zohoError(res, 404, QStringLiteral("R503"), QStringLiteral("Destination folder not found"));
            return;
        }
        const QString id = randomId(37);
        folders[id] = {a.value(QStringLiteral("name")).toString(), parent};
        folderOrder.append(id);
        sendJson(res, 201, {{QStringLiteral("data"), QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("type"), QStringLiteral("files")}}}});
    });
    server.Post("/upload", [this](const Request& req, Response& res, const ContentReader& reader) {
        Upload upload;
        bool ok = false;
        bool drop = false;
        {
            std::lock_guard lock(mutex);
            requests.append(QStringLiteral("POST /upload"));
            ok = authorized(req, res);
            drop = takeFault(Fault::DropUpload);
            for (const char* name : uploadHeaders)
                upload.headers.append(QString::fromLatin1(name) + QStringLiteral(": ") + QString::fromStdString(req.get_header_value(name)));
            upload.blob = root + QStringLiteral("/wd-blob-%1.bin").arg(uploads.size() + 1);
        }
        FILE* out = ok ? std::fopen(QFile::encodeName(upload.blob).constData(), "wb") : nullptr;
        const bool complete =
            reader([&](const char* data, size_t length) { return !out || std::fwrite(data, 1, length, out) == length; });
        if (out)
            std::fclose(out);
        if (!complete)
            QFile::remove(upload.blob); // the client went away: nothing was uploaded
        if (!ok || !complete)
            return;
        if (drop) {
            res.set_content_provider(64, "application/json", [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
        std::lock_guard lock(mutex);
        upload.resourceId = randomId(37);
        upload.name = QUrl::fromPercentEncoding(QByteArray::fromStdString(req.get_header_value("x-filename")));
        upload.parent = QString::fromStdString(req.get_header_value("x-parent_id"));
        uploads.append(upload);
        progress[QStringLiteral("upload_%1_%2").arg(userId, QString::fromStdString(req.get_header_value("upload-id")))] = upload.resourceId;
        sendJson(res, 200, {{QStringLiteral("data"), QJsonArray{}}});
    });
    route(true, "/uploadprogress", [this](const Request& req, Response& res) {
        const auto it = progress.find(QString::fromStdString(req.get_param_value("uploadid")));
        if (it == progress.end()) {
            sendJson(res, 200, {{QStringLiteral("AUDIT_INFO"), QJsonObject{{QStringLiteral("statusCode"), QStringLiteral("D9200")}}}});
            return;
        }
        QJsonObject audit{{QStringLiteral("statusCode"), QStringLiteral("D201")}};
        QJsonObject body;
        if (!takeFault(Fault::NoResourceId)) {
            audit.insert(QStringLiteral("RESOURCE_ID"), it->second);
            body.insert(QStringLiteral("RESOURCE_ID"), it->second);
        }
        body.insert(QStringLiteral("AUDIT_INFO"), audit);
        sendJson(res, 200, body);
    });
    route(false, "/api/v1/links", [this](const Request& req, Response& res) {
        const QJsonObject a = QJsonDocument::fromJson(QByteArray::fromStdString(req.body))
                                  .object()
                                  .value(QStringLiteral("data"))
                                  .toObject()
                                  .value(QStringLiteral("attributes"))
                                  .toObject();
        const QString resource = a.value(QStringLiteral("resource_id")).toString();
        if (std::none_of(uploads.begin(), uploads.end(), [&](const Upload& u) { return u.resourceId == resource; })) {
            zohoError(res, 404, QStringLiteral("R501"), QStringLiteral("Resource does not exist"));
            return;
        }
        const QString id = randomId(17);
        links[id] = resource;
        QJsonObject attributes{{QStringLiteral("link"), QStringLiteral("https://workdrive.zohoexternal.com/external/%1/download").arg(id)},
                               {QStringLiteral("resource_id"), resource},
                               {QStringLiteral("link_name"), a.value(QStringLiteral("link_name"))}};
        if (!takeFault(Fault::LinkWithoutId))
            attributes.insert(QStringLiteral("id"), id);
        sendJson(res, 201, {{QStringLiteral("data"), QJsonObject{{QStringLiteral("id"), id},
                                                                 {QStringLiteral("type"), QStringLiteral("links")},
                                                                 {QStringLiteral("attributes"), attributes}}}});
    });
    server.Get(R"(/public/workdrive-external/download/([^/]+))", [this](const Request& req, Response& res) {
        std::lock_guard lock(mutex);
        const QString resource = QString::fromStdString(req.matches[1]);
        const QString linkId = QJsonDocument::fromJson(QByteArray::fromStdString(req.get_param_value("x-cli-msg")))
                                   .object()
                                   .value(QStringLiteral("linkId"))
                                   .toString();
        const auto link = links.find(linkId);
        for (const Upload& upload : uploads) {
            if (upload.resourceId == resource && link != links.end() && link->second == resource) {
                QFile file(upload.blob);
                file.open(QIODevice::ReadOnly);
                res.set_content(file.readAll().toStdString(), "application/octet-stream");
                return;
            }
        }
        res.status = 404;
        res.set_content("<html><body>The link is invalid.</body></html>", "text/html");
    });
    server.Post("/oauth/v2/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(mutex);
        ++tokenRequests;
        if (req.get_param_value("grant_type") != "refresh_token" || refreshToken.isEmpty() ||
            QString::fromStdString(req.get_param_value("refresh_token")) != refreshToken) {
            sendJson(res, 200, {{QStringLiteral("error"), QStringLiteral("invalid_code")}});
            return;
        }
        if (noToken) {
            sendJson(res, 200, {{QStringLiteral("error_description"), QStringLiteral("You have made too many requests continuously. Please try again after some time.")},
                                {QStringLiteral("error"), QStringLiteral("Access Denied")},
                                {QStringLiteral("status"), QStringLiteral("failure")}});
            return;
        }
        const QString access = QStringLiteral("1000.emu") + randomId(32);
        tokens.insert(access);
        sendJson(res, 200, {{QStringLiteral("access_token"), access},
                            {QStringLiteral("api_domain"), base()},
                            {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                            {QStringLiteral("expires_in"), 3600}});
    });
}

WorkDriveEmulator::WorkDriveEmulator(const QString& storageDir) : d(std::make_unique<State>()) {
    d->root = storageDir;
    QDir().mkpath(storageDir);
    d->routes();
}

WorkDriveEmulator::~WorkDriveEmulator() { stop(); }

bool WorkDriveEmulator::start() {
    d->port = d->server.bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        return false;
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    for (int i = 0; i < 5000 && !d->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return d->server.is_running();
}

void WorkDriveEmulator::stop() {
    if (d->thread.joinable()) {
        d->server.stop();
        d->thread.join();
    }
}

QString WorkDriveEmulator::baseUrl() const { return d->base(); }

void WorkDriveEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    for (const char* key : {"zoho/apiUrl", "zoho/uploadUrl", "zoho/accountsUrl", "zoho/externalFilesUrl"})
        config.set(QString::fromLatin1(key), baseUrl());
    config.set(QStringLiteral("zoho/clientId"), QStringLiteral("1000.EMU0CLIENT0ID0000000000000000000"));
    config.set(QStringLiteral("zoho/clientSecret"), QStringLiteral("emu-zoho-client-secret"));
}

void WorkDriveEmulator::addAccessToken(const QString& token) {
    std::lock_guard lock(d->mutex);
    d->tokens.insert(token);
}

void WorkDriveEmulator::setRefreshToken(const QString& token) {
    std::lock_guard lock(d->mutex);
    d->refreshToken = token;
}

void WorkDriveEmulator::setTokenAnswersWithoutToken(bool on) {
    std::lock_guard lock(d->mutex);
    d->noToken = on;
}

int WorkDriveEmulator::tokenRequests() const {
    std::lock_guard lock(d->mutex);
    return d->tokenRequests;
}

void WorkDriveEmulator::setEdition(const QString& edition) {
    std::lock_guard lock(d->mutex);
    d->edition = edition;
}

QString WorkDriveEmulator::addFolder(const QString& name, const QString& parent) {
    std::lock_guard lock(d->mutex);
    const QString id = randomId(37);
    d->folders[id] = {name, parent};
    d->folderOrder.append(id);
    return id;
}

void WorkDriveEmulator::injectFault(Fault fault, int times) {
    std::lock_guard lock(d->mutex);
    d->faults[fault] += times;
}

void WorkDriveEmulator::answerOnce(const QString& request, int status, const QByteArray& body) {
    std::lock_guard lock(d->mutex);
    d->overrides.append({request, status, body});
}

QList<WorkDriveEmulator::Upload> WorkDriveEmulator::uploads() const {
    std::lock_guard lock(d->mutex);
    return d->uploads;
}

QString WorkDriveEmulator::folderParent(const QString& id) const {
    std::lock_guard lock(d->mutex);
    const auto it = d->folders.find(id);
    return it == d->folders.end() ? QString() : it->second.second;
}

QString WorkDriveEmulator::folderName(const QString& id) const {
    std::lock_guard lock(d->mutex);
    const auto it = d->folders.find(id);
    return it == d->folders.end() ? QString() : it->second.first;
}

QStringList WorkDriveEmulator::requests() const {
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int WorkDriveEmulator::count(const QString& prefix) const {
    std::lock_guard lock(d->mutex);
    return int(d->requests.filter(prefix).size());
}
