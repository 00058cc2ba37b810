#include "DropboxEmulator.h"

#include "EmulatorCore.h"
#include "backend/Config.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <chrono>

namespace {
using namespace emu;

QString token(int n) { return randomId(n); }

void sendJson(Response& res, int status, const QJsonObject& body) { emu::sendJson(res, status, body, "application/json"); }

QJsonObject tagged(const QString& tag) { return {{QStringLiteral(".tag"), tag}}; }

void routeError(Response& res, const QString& summary, const QJsonObject& error) {
    sendJson(res, 409, {{QStringLiteral("error_summary"), summary}, {QStringLiteral("error"), error}});
}

void badRequest(Response& res, const std::string& route, const std::string& why) {
    res.status = 400;
    res.set_content("Error in call to API function \"" + route + "\": " + why, "text/plain; charset=utf-8");
}

struct FileEntry {
    QString display;
    QString blob;
    QString id;
    QString rev;
    qint64 size = 0;
    QString linkToken;
    QString rlkey;
};

struct Session {
    QString blob;
    qint64 offset = 0;
    bool closed = false;
};
} // namespace

struct DropboxEmulator::State {
    EmulatorCore& core;
    std::mutex& mutex = core.mutex;
    httplib::Server& server = core.server;
    Account account;
    std::map<QString, QString> folders; // path_lower -> display
    std::map<QString, FileEntry> files; // path_lower -> entry
    std::map<QString, Session> sessions;
    FaultQueue<Fault> faults;
    qint64 slowRate = 4 << 20;
    bool omitLinkMetadata = false;
    QStringList rejectedArgs;

    QString newBlob() { return core.newBlob(QStringLiteral("blob")); }

    // Bearer check shared by every API route; false when the answer is already set.
    bool authorized(const Request& req, Response& res) {
        const QString bearer = EmulatorCore::credential(req, "Bearer");
        std::lock_guard lock(mutex);
        if (core.accepts(bearer))
            return true;
        const QString tag = core.expiredTokens.count(bearer) ? QStringLiteral("expired_access_token")
                                                        : QStringLiteral("invalid_access_token");
        sendJson(res, 401, {{QStringLiteral("error_summary"), tag + QStringLiteral("/..")}, {QStringLiteral("error"), tagged(tag)}});
        return false;
    }

    bool readBody(const ContentReader& reader, const QString& file, bool append = false) {
        return core.streamBody(reader, file, append);
    }

    QJsonObject metadata(const QString& lower, const FileEntry& f) const {
        return {{QStringLiteral("name"), f.display.section(QLatin1Char('/'), -1)},
                {QStringLiteral("id"), f.id},
                {QStringLiteral("client_modified"), QStringLiteral("2024-05-01T10:20:35Z")},
                {QStringLiteral("server_modified"), QStringLiteral("2024-05-01T10:20:36Z")},
                {QStringLiteral("rev"), f.rev},
                {QStringLiteral("size"), double(f.size)},
                {QStringLiteral("path_lower"), lower},
                {QStringLiteral("path_display"), f.display},
                {QStringLiteral("is_downloadable"), true}};
    }

    QJsonObject linkMetadata(const QString& lower, const FileEntry& f) const {
        const QString name = f.display.section(QLatin1Char('/'), -1);
        const QString url = QStringLiteral("http://localhost:%1/scl/fi/%2/%3?rlkey=%4&dl=0")
                                .arg(core.port)
                                .arg(f.linkToken, QString::fromUtf8(QUrl::toPercentEncoding(name)), f.rlkey);
        return {{QStringLiteral(".tag"), QStringLiteral("file")}, {QStringLiteral("url"), url},
                {QStringLiteral("id"), f.id},                     {QStringLiteral("name"), name},
                {QStringLiteral("path_lower"), lower},            {QStringLiteral("size"), double(f.size)}};
    }

    void makeParents(const QString& display) {
        const QStringList parts = display.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString path;
        for (int i = 0; i + 1 < parts.size(); ++i) {
            path += QLatin1Char('/') + parts[i];
            folders.emplace(path.toLower(), path);
        }
    }

    // Commits a finished upload; a folder at the path is the only conflict in overwrite mode.
    std::optional<QJsonObject> commit(const QJsonObject& commitInfo, const QString& blob, qint64 size) {
        const QString display = commitInfo.value(QStringLiteral("path")).toString();
        const QString lower = display.toLower();
        if (folders.count(lower)) {
            QFile::remove(blob);
            return std::nullopt;
        }
        makeParents(display);
        FileEntry& entry = files[lower];
        if (!entry.blob.isEmpty())
            QFile::remove(entry.blob);
        if (entry.id.isEmpty())
            entry.id = QStringLiteral("id:") + token(22);
        entry.display = display;
        entry.blob = blob;
        entry.rev = token(12);
        entry.size = size;
        return metadata(lower, entry);
    }

    void routes();
    void contentRoute(const std::string& route,
                      std::function<void(const QJsonObject& arg, const Request&, Response&, const ContentReader&)> handler);
    void rpcRoute(const std::string& route, std::function<void(const QJsonObject& body, Response&)> handler);
};

void DropboxEmulator::State::contentRoute(
    const std::string& route,
    std::function<void(const QJsonObject& arg, const Request&, Response&, const ContentReader&)> handler) {
    server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res, const ContentReader& reader) {
        const QString name = QString::fromStdString(route);
        if (!authorized(req, res)) {
            readBody(reader, QString());
            return;
        }
        const std::string rawArg = req.get_header_value("Dropbox-API-Arg");
        for (unsigned char c : rawArg) {
            if (c >= 0x7F) {
                readBody(reader, QString());
                std::lock_guard lock(mutex);
                rejectedArgs.append(QString::fromStdString(rawArg));
                badRequest(res, route, "HTTP header \"Dropbox-API-Arg\": could not decode input as JSON");
                return;
            }
        }
        const QJsonObject arg = QJsonDocument::fromJson(QByteArray::fromStdString(rawArg)).object();
        std::optional<FaultQueue<Fault>::Entry> fault;
        {
            std::lock_guard lock(mutex);
            QString line = name;
            if (arg.contains(QStringLiteral("cursor")))
                line += QStringLiteral(" offset=%1").arg(
                    qint64(arg.value(QStringLiteral("cursor")).toObject().value(QStringLiteral("offset")).toDouble()));
            core.requests.append(line);
            fault = faults.take(name);
        }
        if (fault && (fault->fault == Fault::TooManyRequests || fault->fault == Fault::ServerError ||
                      fault->fault == Fault::DropConnection)) {
            readBody(reader, QString());
            if (fault->fault == Fault::DropConnection) {
                dropAnswer(res);
            } else if (fault->fault == Fault::ServerError) {
                res.status = 500;
                res.set_content("Internal Server Error", "text/plain");
            } else {
                res.set_header("Retry-After", std::to_string(fault->value));
                sendJson(res, 429, {{QStringLiteral("error_summary"), QStringLiteral("too_many_requests/..")},
                                    {QStringLiteral("error"),
                                     QJsonObject{{QStringLiteral("reason"), tagged(QStringLiteral("too_many_requests"))},
                                                 {QStringLiteral("retry_after"), fault->value}}}});
            }
            return;
        }
        ContentReader slowReader = reader;
        if (fault && fault->fault == Fault::Slow) {
            slowReader = ContentReader(
                [this, reader](httplib::ContentReceiver receiver) {
                    const auto started = std::chrono::steady_clock::now();
                    qint64 got = 0;
                    return reader([&](const char* data, size_t length) {
                        got += qint64(length);
                        std::this_thread::sleep_until(started + std::chrono::microseconds(got * 1000000 / slowRate));
                        return receiver(data, length);
                    });
                },
                reader.multipart_reader_);
        }
        handler(arg, req, res, slowReader);
        if (fault && fault->fault == Fault::LoseAnswer && res.status == 200)
            dropAnswer(res);
    });
}

void DropboxEmulator::State::rpcRoute(const std::string& route, std::function<void(const QJsonObject&, Response&)> handler) {
    server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res) {
        const QString name = QString::fromStdString(route);
        if (!authorized(req, res))
            return;
        std::optional<FaultQueue<Fault>::Entry> fault;
        {
            std::lock_guard lock(mutex);
            core.requests.append(name);
            fault = faults.take(name);
        }
        if (fault && fault->fault == Fault::TooManyRequests) {
            res.set_header("Retry-After", std::to_string(fault->value));
            res.status = 429;
            res.set_content("too_many_requests", "text/plain");
            return;
        }
        if (fault && fault->fault == Fault::ServerError) {
            res.status = 500;
            return;
        }
        if (fault && fault->fault == Fault::DropConnection) {
            dropAnswer(res);
            return;
        }
        if (fault && fault->fault == Fault::RouteError) {
            routeError(res, QStringLiteral("other/.."), tagged(QStringLiteral("other")));
            return;
        }
        QJsonParseError error{};
        const bool null = req.body == "null";
        const QJsonDocument doc = null ? QJsonDocument() : QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
        if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0 ||
            (!null && (error.error != QJsonParseError::NoError || !doc.isObject()))) {
            badRequest(res, route, "request body: could not decode input as JSON");
            return;
        }
        std::lock_guard lock(mutex);
        handler(doc.object(), res);
        if (fault && fault->fault == Fault::LoseAnswer)
            dropAnswer(res);
    });
}

void DropboxEmulator::State::routes() {
    rpcRoute("files/create_folder_v2", [this](const QJsonObject& arg, Response& res) {
        const QString display = arg.value(QStringLiteral("path")).toString();
        const QString lower = display.toLower();
        if (!display.startsWith(QLatin1Char('/'))) {
            routeError(res, QStringLiteral("path/malformed_path/.."),
                       {{QStringLiteral(".tag"), QStringLiteral("path")}, {QStringLiteral("path"), tagged(QStringLiteral("malformed_path"))}});
            return;
        }
        if (folders.count(lower) || files.count(lower)) {
            const QString kind = folders.count(lower) ? QStringLiteral("folder") : QStringLiteral("file");
            routeError(res, QStringLiteral("path/conflict/%1/...").arg(kind),
                       {{QStringLiteral(".tag"), QStringLiteral("path")},
                        {QStringLiteral("path"), QJsonObject{{QStringLiteral(".tag"), QStringLiteral("conflict")},
                                                             {QStringLiteral("conflict"), tagged(kind)}}}});
            return;
        }
        makeParents(display);
        folders.emplace(lower, display);
        sendJson(res, 200, {{QStringLiteral("metadata"), QJsonObject{{QStringLiteral("name"), display.section(QLatin1Char('/'), -1)},
                                                                     {QStringLiteral("id"), QStringLiteral("id:") + token(22)},
                                                                     {QStringLiteral("path_lower"), lower},
                                                                     {QStringLiteral("path_display"), display}}}});
    });

    contentRoute("files/upload", [this](const QJsonObject& arg, const Request&, Response& res, const ContentReader& reader) {
        QString blob;
        {
            std::lock_guard lock(mutex);
            blob = newBlob();
        }
        if (!readBody(reader, blob)) {
            QFile::remove(blob);
            return;
        }
        std::lock_guard lock(mutex);
        const std::optional<QJsonObject> meta = commit(arg, blob, QFileInfo(blob).size());
        if (!meta) {
            routeError(res, QStringLiteral("path/conflict/folder/.."),
                       {{QStringLiteral(".tag"), QStringLiteral("path")},
                        {QStringLiteral("reason"), QJsonObject{{QStringLiteral(".tag"), QStringLiteral("conflict")},
                                                               {QStringLiteral("conflict"), tagged(QStringLiteral("folder"))}}},
                        {QStringLiteral("upload_session_id"), QStringLiteral("pid_upload_session:") + token(40)}});
            return;
        }
        sendJson(res, 200, *meta);
    });

    contentRoute("files/upload_session/start",
                 [this](const QJsonObject& arg, const Request&, Response& res, const ContentReader& reader) {
                     Session session;
                     {
                         std::lock_guard lock(mutex);
                         session.blob = newBlob();
                     }
                     if (!readBody(reader, session.blob)) {
                         QFile::remove(session.blob);
                         return;
                     }
                     session.offset = QFileInfo(session.blob).size();
                     session.closed = arg.value(QStringLiteral("close")).toBool();
                     const QString id = QStringLiteral("pid_upload_session:") + token(40);
                     std::lock_guard lock(mutex);
                     sessions[id] = session;
                     sendJson(res, 200, {{QStringLiteral("session_id"), id}});
                 });

    contentRoute("files/upload_session/append_v2",
                 [this](const QJsonObject& arg, const Request&, Response& res, const ContentReader& reader) {
                     const QJsonObject cursor = arg.value(QStringLiteral("cursor")).toObject();
                     const QString id = cursor.value(QStringLiteral("session_id")).toString();
                     const qint64 offset = qint64(cursor.value(QStringLiteral("offset")).toDouble(-1));
                     Session session;
                     {
                         std::lock_guard lock(mutex);
                         const auto it = sessions.find(id);
                         if (it == sessions.end() || it->second.closed || it->second.offset != offset) {
                             readBody(reader, QString());
                             if (it == sessions.end())
                                 routeError(res, QStringLiteral("not_found/.."), tagged(QStringLiteral("not_found")));
                             else if (it->second.closed)
                                 routeError(res, QStringLiteral("closed/.."), tagged(QStringLiteral("closed")));
                             else
                                 routeError(res, QStringLiteral("incorrect_offset/.."),
                                            {{QStringLiteral(".tag"), QStringLiteral("incorrect_offset")},
                                             {QStringLiteral("correct_offset"), double(it->second.offset)}});
                             return;
                         }
                         session = it->second;
                     }
                     const bool ok = readBody(reader, session.blob, true);
                     const qint64 size = QFileInfo(session.blob).size();
                     std::lock_guard lock(mutex);
                     Session& stored = sessions[id];
                     stored.offset = size;
                     if (!ok)
                         return;
                     stored.closed = arg.value(QStringLiteral("close")).toBool();
                     res.status = 200;
                     res.set_content("null", "application/json");
                 });

    rpcRoute("files/upload_session/finish_batch_v2", [this](const QJsonObject& arg, Response& res) {
        QJsonArray entries;
        for (const QJsonValue& value : arg.value(QStringLiteral("entries")).toArray()) {
            const QJsonObject entry = value.toObject();
            const QJsonObject cursor = entry.value(QStringLiteral("cursor")).toObject();
            const QString id = cursor.value(QStringLiteral("session_id")).toString();
            const qint64 offset = qint64(cursor.value(QStringLiteral("offset")).toDouble(-1));
            const auto failure = [&](const QJsonObject& f) {
                entries.append(QJsonObject{{QStringLiteral(".tag"), QStringLiteral("failure")}, {QStringLiteral("failure"), f}});
            };
            const auto lookupFailed = [&](const QJsonObject& why) {
                failure({{QStringLiteral(".tag"), QStringLiteral("lookup_failed")}, {QStringLiteral("lookup_failed"), why}});
            };
            if (faults.take(QStringLiteral("files/upload_session/finish_batch_v2#expire")))
                sessions.erase(id);
            const auto it = sessions.find(id);
            if (it == sessions.end()) {
                lookupFailed(tagged(QStringLiteral("not_found")));
            } else if (!it->second.closed) {
                lookupFailed(tagged(QStringLiteral("not_closed")));
            } else if (it->second.offset != offset) {
                lookupFailed({{QStringLiteral(".tag"), QStringLiteral("incorrect_offset")},
                              {QStringLiteral("correct_offset"), double(it->second.offset)}});
            } else {
                const Session session = it->second;
                sessions.erase(it);
                const std::optional<QJsonObject> meta =
                    commit(entry.value(QStringLiteral("commit")).toObject(), session.blob, session.offset);
                if (!meta) {
                    failure({{QStringLiteral(".tag"), QStringLiteral("path")},
                             {QStringLiteral("path"), QJsonObject{{QStringLiteral(".tag"), QStringLiteral("conflict")},
                                                                  {QStringLiteral("conflict"), tagged(QStringLiteral("folder"))}}}});
                    continue;
                }
                QJsonObject success = *meta;
                success.insert(QStringLiteral(".tag"), QStringLiteral("success"));
                entries.append(success);
            }
        }
        sendJson(res, 200, {{QStringLiteral("entries"), entries}});
    });

    rpcRoute("sharing/create_shared_link_with_settings", [this](const QJsonObject& arg, Response& res) {
        const QString lower = arg.value(QStringLiteral("path")).toString().toLower();
        const auto it = files.find(lower);
        if (it == files.end()) {
            routeError(res, QStringLiteral("path/not_found/.."),
                       {{QStringLiteral(".tag"), QStringLiteral("path")}, {QStringLiteral("path"), tagged(QStringLiteral("not_found"))}});
            return;
        }
        FileEntry& entry = it->second;
        if (!entry.linkToken.isEmpty()) {
            QJsonObject error = tagged(QStringLiteral("shared_link_already_exists"));
            if (!omitLinkMetadata)
                error.insert(QStringLiteral("shared_link_already_exists"),
                             QJsonObject{{QStringLiteral(".tag"), QStringLiteral("metadata")},
                                         {QStringLiteral("metadata"), linkMetadata(lower, entry)}});
            routeError(res, omitLinkMetadata ? QStringLiteral("shared_link_already_exists/..")
                                             : QStringLiteral("shared_link_already_exists/metadata/.."),
                       error);
            return;
        }
        entry.linkToken = token(21);
        entry.rlkey = token(25);
        sendJson(res, 200, linkMetadata(lower, entry));
    });

    rpcRoute("sharing/list_shared_links", [this](const QJsonObject& arg, Response& res) {
        QJsonArray links;
        const auto it = files.find(arg.value(QStringLiteral("path")).toString().toLower());
        if (it != files.end() && !it->second.linkToken.isEmpty())
            links.append(linkMetadata(it->first, it->second));
        sendJson(res, 200, {{QStringLiteral("links"), links}, {QStringLiteral("has_more"), false}});
    });

    rpcRoute("users/get_current_account", [this](const QJsonObject&, Response& res) {
        QJsonObject body{{QStringLiteral("account_id"), account.id},
                         {QStringLiteral("name"), QJsonObject{{QStringLiteral("display_name"), account.displayName},
                                                              {QStringLiteral("given_name"), account.displayName.section(QLatin1Char(' '), 0, 0)}}},
                         {QStringLiteral("email"), account.email},
                         {QStringLiteral("email_verified"), true},
                         {QStringLiteral("account_type"), tagged(QStringLiteral("basic"))}};
        if (!account.photoUrl.isEmpty())
            body.insert(QStringLiteral("profile_photo_url"), account.photoUrl);
        sendJson(res, 200, body);
    });

    server.Post("/oauth2/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(mutex);
        core.requests.append(QStringLiteral("oauth2/token"));
        if (!core.refreshGrantMatches(req)) {
            sendJson(res, 400, {{QStringLiteral("error"), QStringLiteral("invalid_grant")},
                                {QStringLiteral("error_description"), QStringLiteral("refresh token is invalid or revoked")}});
            return;
        }
        sendJson(res, 200, {{QStringLiteral("access_token"), core.issueToken(QStringLiteral("sl.emu-"), 40)},
                            {QStringLiteral("token_type"), QStringLiteral("bearer")},
                            {QStringLiteral("expires_in"), 14400}});
    });

    server.Get(R"(/scl/fi/([^/]+)/([^/]+))", [this](const Request& req, Response& res) {
        const QString linkToken = QString::fromStdString(req.matches[1]);
        std::lock_guard lock(mutex);
        for (const auto& [lower, entry] : files) {
            if (entry.linkToken != linkToken)
                continue;
            if (req.get_param_value("rlkey") != entry.rlkey.toStdString())
                break;
            QFile file(entry.blob);
            file.open(QIODevice::ReadOnly);
            res.set_content(file.readAll().toStdString(), "application/octet-stream");
            return;
        }
        res.status = 404;
        res.set_content("link not found", "text/plain");
    });
}

DropboxEmulator::DropboxEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(new State{core()}) {
    d->routes();
}

DropboxEmulator::~DropboxEmulator() { stop(); }

QString DropboxEmulator::shareHost() const { return QStringLiteral("localhost:%1").arg(port()); }

void DropboxEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    config.set(QStringLiteral("dropbox/apiUrl"), baseUrl());
    config.set(QStringLiteral("dropbox/contentUrl"), baseUrl());
    config.set(QStringLiteral("dropbox/tokenUrl"), baseUrl() + QStringLiteral("/oauth2/token"));
    config.set(QStringLiteral("dropbox/shareHost"), shareHost());
    config.set(QStringLiteral("dropbox/directHost"), QStringLiteral("127.0.0.1:%1").arg(port()));
    config.set(QStringLiteral("dropbox/appKey"), QStringLiteral("emu0app0key0001"));
}

void DropboxEmulator::setAccount(const Account& account) {
    std::lock_guard lock(d->mutex);
    d->account = account;
}

void DropboxEmulator::injectFault(const QString& route, Fault fault, int times, int retryAfterSeconds) {
    std::lock_guard lock(d->mutex);
    d->faults.push(fault == Fault::ExpireSession ? route + QStringLiteral("#expire") : route, fault, times, retryAfterSeconds);
}

void DropboxEmulator::setSlowBytesPerSecond(qint64 rate) {
    std::lock_guard lock(d->mutex);
    d->slowRate = qMax<qint64>(rate, 1);
}

void DropboxEmulator::setOmitExistingLinkMetadata(bool omit) {
    std::lock_guard lock(d->mutex);
    d->omitLinkMetadata = omit;
}

QString DropboxEmulator::storedFile(const QString& remotePath) const {
    std::lock_guard lock(d->mutex);
    const auto it = d->files.find(remotePath.toLower());
    return it == d->files.end() ? QString() : it->second.blob;
}

bool DropboxEmulator::folderExists(const QString& remotePath) const {
    std::lock_guard lock(d->mutex);
    return d->folders.count(remotePath.toLower()) > 0;
}

QString DropboxEmulator::displayPath(const QString& remotePath) const {
    std::lock_guard lock(d->mutex);
    const auto it = d->files.find(remotePath.toLower());
    return it == d->files.end() ? QString() : it->second.display;
}

qint64 DropboxEmulator::bytesReceived() const { return core().bytesReceived; }
int DropboxEmulator::abortedBodies() const { return core().abortedBodies; }

QStringList DropboxEmulator::rejectedArgs() const {
    std::lock_guard lock(d->mutex);
    return d->rejectedArgs;
}
