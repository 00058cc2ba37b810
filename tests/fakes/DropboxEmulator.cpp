#include "DropboxEmulator.h"

#include "EmulatorCore.h"
#include "core/Config.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>

#include <chrono>

namespace {
using namespace emu;

QString token(int n) {
    return randomId(n);
}

void sendJson(Response& res, int status, const QJsonObject& body) {
    emu::sendJson(res, status, body, "application/json");
}

void routeError(Response& res, const QString& summary, const QJsonObject& error) {
    sendJson(res, 409, json(R"({"error_summary": %1, "error": %2})", summary, error));
}

void badRequest(Response& res, const std::string& route, const std::string& why) {
    res.status = 400;
    res.set_content("Error in call to API function \"" + route + "\": " + why, "text/plain; charset=utf-8");
}

const char* const folderConflict = R"({".tag": "conflict", "conflict": {".tag": "folder"}})";

struct FileEntry {
    QString display, blob, id, rev;
    qint64 size = 0;
    QString linkToken, rlkey;
};

struct Session {
    QString blob;
    qint64 offset = 0; // sequential: the bytes received so far
    bool closed = false;
    // Concurrent sessions: the pieces received (offset -> length) and, once closed, the size.
    bool concurrent = false;
    std::map<qint64, qint64> pieces;
    qint64 size = -1;

    // A concurrent session's pieces cover [0, size) without a gap.
    bool complete() const {
        qint64 end = 0;
        for (const auto& [offset, length] : pieces) {
            if (offset > end)
                return false;
            end = qMax(end, offset + length);
        }
        return end == size;
    }
};

constexpr qint64 concurrentUnit = qint64(4) << 20;

QJsonObject tagged(const char* tag) {
    return json(R"({".tag": %1})", QString::fromLatin1(tag));
}

// The cursor's session and offset of an upload-session request.
std::pair<QString, qint64> cursorOf(const QJsonObject& arg) {
    const QJsonObject cursor = arg.value(QStringLiteral("cursor")).toObject();
    return {cursor.value(QStringLiteral("session_id")).toString(),
            qint64(cursor.value(QStringLiteral("offset")).toDouble(-1))};
}
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

    using Handler = std::function<void(const QJsonObject& arg, Response&, const ContentReader*)>;

    // Bearer check shared by every API route; false when the answer is already set.
    bool authorized(const Request& req, Response& res) {
        const QString bearer = EmulatorCore::credential(req, "Bearer");
        std::lock_guard lock(mutex);
        if (core.accepts(bearer))
            return true;
        const QString tag = core.expiredTokens.count(bearer) ? QStringLiteral("expired_access_token")
                                                             : QStringLiteral("invalid_access_token");
        sendJson(res, 401,
                 json(R"({"error_summary": %1, "error": {".tag": %2}})", tag + QStringLiteral("/.."), tag));
        return false;
    }

    void discard(const ContentReader* reader) {
        if (reader)
            core.streamBody(*reader, QString());
    }

    QJsonObject metadata(const QString& lower, const FileEntry& f) const {
        return json(
            R"({"name": %1, "id": %2, "client_modified": "2024-05-01T10:20:35Z", "server_modified": "2024-05-01T10:20:36Z",
                        "rev": %3, "size": %4, "path_lower": %5, "path_display": %6, "is_downloadable": true})",
            f.display.section(QLatin1Char('/'), -1), f.id, f.rev, f.size, lower, f.display);
    }

    QJsonObject linkMetadata(const QString& lower, const FileEntry& f) const {
        const QString name = f.display.section(QLatin1Char('/'), -1);
        const QString url = QStringLiteral("http://localhost:%1/scl/fi/%2/%3?rlkey=%4&dl=0")
                                .arg(core.port)
                                .arg(f.linkToken, QString::fromUtf8(QUrl::toPercentEncoding(name)), f.rlkey);
        return json(R"({".tag": "file", "url": %1, "id": %2, "name": %3, "path_lower": %4, "size": %5})", url,
                    f.id, name, lower, f.size);
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
        // Overwriting keeps the file's id and shared link, with a new revision.
        entry = {display,    blob, entry.id.isEmpty() ? QStringLiteral("id:") + token(22) : entry.id,
                 token(12),  size, entry.linkToken,
                 entry.rlkey};
        return metadata(lower, entry);
    }

    // Streams a content body into a new blob; empty when the client went away.
    QString receive(const ContentReader& reader) {
        const QString blob = core.locked([&] { return core.newBlob(QStringLiteral("blob")); });
        if (core.streamBody(reader, blob))
            return blob;
        QFile::remove(blob);
        return {};
    }

    // Content routes carry their argument in the Dropbox-API-Arg header and the file as the body;
    // RPC routes carry a JSON body.
    std::optional<QJsonObject> argument(const std::string& route, const Request& req, Response& res,
                                        const ContentReader* reader) {
        if (reader) {
            const std::string raw = req.get_header_value("Dropbox-API-Arg");
            if (std::all_of(raw.begin(), raw.end(), [](unsigned char c) { return c < 0x7F; }))
                return parseJson(raw);
            discard(reader);
            std::lock_guard lock(mutex);
            rejectedArgs.append(QString::fromStdString(raw));
            badRequest(res, route, "HTTP header \"Dropbox-API-Arg\": could not decode input as JSON");
            return std::nullopt;
        }
        QJsonParseError error{};
        const bool null = req.body == "null";
        const QJsonDocument doc =
            null ? QJsonDocument() : QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
        if (req.get_header_value("Content-Type").rfind("application/json", 0) == 0 &&
            (null || (error.error == QJsonParseError::NoError && doc.isObject())))
            return doc.object();
        badRequest(res, route, "request body: could not decode input as JSON");
        return std::nullopt;
    }

    // Answers a fault met before the handler; true when the answer is set.
    bool answerFault(Fault fault, int retryAfter, Response& res, const ContentReader* reader) {
        switch (fault) {
        case Fault::TooManyRequests:
            res.set_header("Retry-After", std::to_string(retryAfter));
            if (reader) {
                sendJson(
                    res, 429,
                    json(
                        R"({"error_summary": "too_many_requests/..", "error": {"reason": {".tag": "too_many_requests"},
                                            "retry_after": %1}})",
                        retryAfter));
            } else {
                res.status = 429;
                res.set_content("too_many_requests", "text/plain");
            }
            break;
        case Fault::ServerError:
            res.status = 500;
            if (reader)
                res.set_content("Internal Server Error", "text/plain");
            break;
        case Fault::DropConnection:
            dropAnswer(res);
            break;
        case Fault::RouteError:
            routeError(res, QStringLiteral("other/.."), json(R"({".tag": "other"})"));
            break;
        default:
            return false;
        }
        discard(reader);
        return true;
    }

    // A reader that hands the body on at slowRate bytes per second.
    ContentReader slowed(const ContentReader& reader) {
        return ContentReader(
            [this, reader](httplib::ContentReceiver receiver) {
                const auto started = std::chrono::steady_clock::now();
                qint64 got = 0;
                return reader([&](const char* data, size_t length) {
                    got += qint64(length);
                    std::this_thread::sleep_until(started +
                                                  std::chrono::microseconds(got * 1000000 / slowRate));
                    return receiver(data, length);
                });
            },
            reader.multipart_reader_);
    }

    // Every API route: bearer check, argument, request log, fault queue; RPC handlers run under the lock.
    void handle(const std::string& route, const Handler& handler, const Request& req, Response& res,
                const ContentReader* reader) {
        const QString name = QString::fromStdString(route);
        if (!authorized(req, res)) {
            discard(reader);
            return;
        }
        const std::optional<QJsonObject> arg = argument(route, req, res, reader);
        if (!arg)
            return;
        std::optional<FaultQueue<Fault>::Entry> fault;
        {
            std::lock_guard lock(mutex);
            const bool cursor = arg->contains(QStringLiteral("cursor"));
            core.requests.append(cursor ? name + QStringLiteral(" offset=%1").arg(cursorOf(*arg).second)
                                        : name);
            fault = faults.take(name);
        }
        if (fault && answerFault(fault->fault, fault->value, res, reader))
            return;
        if (reader) {
            const ContentReader slow = fault && fault->fault == Fault::Slow ? slowed(*reader) : *reader;
            handler(*arg, res, &slow);
        } else {
            std::lock_guard lock(mutex);
            handler(*arg, res, nullptr);
        }
        if (fault && fault->fault == Fault::LoseAnswer && res.status == 200)
            dropAnswer(res);
        // A body that did not arrive whole (cut, or the client went away) gets no answer; the
        // HTTP library has made it an empty 400.
        if (reader && (res.status == -1 || (res.status == 400 && res.body.empty())))
            dropAnswer(res);
    }

    void api(const std::string& route, bool content, Handler handler) {
        if (content)
            server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res,
                                                              const ContentReader& reader) {
                handle(route, handler, req, res, &reader);
            });
        else
            server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res) {
                handle(route, handler, req, res, nullptr);
            });
    }

    // A concurrent session's piece: at a 4 MiB boundary, a multiple of 4 MiB unless it closes the
    // session; stored where its offset says, counted only once it arrived whole.
    void appendPiece(const QString& id, const QString& blob, qint64 offset, bool close,
                     const ContentReader& reader, Response& res) {
        if (offset % concurrentUnit != 0) {
            discard(&reader);
            routeError(res, QStringLiteral("concurrent_session_invalid_offset/.."),
                       tagged("concurrent_session_invalid_offset"));
            return;
        }
        qint64 length = 0;
        if (!core.streamBody(reader, blob, false, std::numeric_limits<qint64>::max(), offset, &length))
            return;
        std::lock_guard lock(mutex);
        const auto it = sessions.find(id);
        if (it == sessions.end() || it->second.closed) {
            routeError(res, QStringLiteral("closed/.."), tagged("closed"));
        } else if (!close && length % concurrentUnit != 0) {
            routeError(res, QStringLiteral("concurrent_session_invalid_data_size/.."),
                       tagged("concurrent_session_invalid_data_size"));
        } else {
            it->second.pieces[offset] = length;
            if (close) {
                it->second.closed = true;
                it->second.size = it->second.offset = offset + length;
            }
            res.status = 200;
            res.set_content("null", "application/json");
        }
    }

    void routes();
};

void DropboxEmulator::State::routes() {
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
                      display.section(QLatin1Char('/'), -1), QStringLiteral("id:") + token(22), lower,
                      display));
    });

    api("files/upload", true, [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
        const QString blob = receive(*reader);
        if (blob.isEmpty())
            return;
        std::lock_guard lock(mutex);
        if (const std::optional<QJsonObject> meta = commit(arg, blob, QFileInfo(blob).size()))
            sendJson(res, 200, *meta);
        else
            routeError(res, QStringLiteral("path/conflict/folder/.."),
                       json(R"({".tag": "path", "reason": %1, "upload_session_id": %2})",
                            json(folderConflict), QStringLiteral("pid_upload_session:") + token(40)));
    });

    api("files/upload_session/start", true,
        [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
            const QString blob = receive(*reader);
            if (blob.isEmpty())
                return;
            const QJsonValue type = arg.value(QStringLiteral("session_type"));
            const bool concurrent = (type.isObject() ? type[QStringLiteral(".tag")] : type).toString() ==
                                    QLatin1String("concurrent");
            const bool close = arg.value(QStringLiteral("close")).toBool();
            if (concurrent && (close || QFileInfo(blob).size() > 0)) {
                QFile::remove(blob);
                const char* why =
                    close ? "concurrent_session_close_not_allowed" : "concurrent_session_data_not_allowed";
                routeError(res, QString::fromLatin1(why) + QStringLiteral("/.."), tagged(why));
                return;
            }
            const QString id = QStringLiteral("pid_upload_session:") + token(40);
            std::lock_guard lock(mutex);
            Session& session = sessions[id] = {blob, QFileInfo(blob).size(), close};
            session.concurrent = concurrent;
            sendJson(res, 200, json(R"({"session_id": %1})", id));
        });

    api("files/upload_session/append_v2", true,
        [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
            const auto [id, offset] = cursorOf(arg);
            Session session;
            {
                std::lock_guard lock(mutex);
                const auto it = sessions.find(id);
                if (it != sessions.end() && it->second.concurrent && !it->second.closed) {
                    session = it->second;
                } else if (it == sessions.end() || it->second.closed || it->second.offset != offset) {
                    discard(reader);
                    if (it == sessions.end())
                        routeError(res, QStringLiteral("not_found/.."), json(R"({".tag": "not_found"})"));
                    else if (it->second.closed)
                        routeError(res, QStringLiteral("closed/.."), json(R"({".tag": "closed"})"));
                    else
                        routeError(
                            res, QStringLiteral("incorrect_offset/.."),
                            json(R"({".tag": "incorrect_offset", "correct_offset": %1})", it->second.offset));
                    return;
                } else {
                    session = it->second;
                }
            }
            if (session.concurrent) {
                appendPiece(id, session.blob, offset, arg.value(QStringLiteral("close")).toBool(), *reader,
                            res);
                return;
            }
            const bool ok = core.streamBody(*reader, session.blob, true);
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

    api("files/upload_session/finish_batch_v2", false,
        [this](const QJsonObject& arg, Response& res, const ContentReader*) {
            QJsonArray entries;
            for (const QJsonValue& value : arg.value(QStringLiteral("entries")).toArray()) {
                const auto [id, offset] = cursorOf(value.toObject());
                const auto lookupFailed = [&](const QJsonObject& why) {
                    entries.append(json(
                        R"({".tag": "failure", "failure": {".tag": "lookup_failed", "lookup_failed": %1}})",
                        why));
                };
                if (faults.take(QStringLiteral("files/upload_session/finish_batch_v2#expire")))
                    sessions.erase(id);
                const auto it = sessions.find(id);
                if (it == sessions.end()) {
                    lookupFailed(json(R"({".tag": "not_found"})"));
                } else if (it->second.concurrent && (!it->second.closed || !it->second.complete())) {
                    entries.append(json(R"({".tag": "failure", "failure": %1})",
                                        tagged(it->second.closed ? "concurrent_session_missing_data"
                                                                 : "concurrent_session_not_closed")));
                } else if (it->second.concurrent && offset != it->second.size) {
                    lookupFailed(
                        json(R"({".tag": "incorrect_offset", "correct_offset": %1})", it->second.size));
                } else if (!it->second.closed) {
                    lookupFailed(json(R"({".tag": "not_closed"})"));
                } else if (it->second.offset != offset) {
                    lookupFailed(
                        json(R"({".tag": "incorrect_offset", "correct_offset": %1})", it->second.offset));
                } else {
                    const Session session = it->second;
                    sessions.erase(it);
                    if (session.concurrent)
                        QFile::resize(session.blob, session.size);
                    std::optional<QJsonObject> meta =
                        commit(value[QStringLiteral("commit")].toObject(), session.blob, session.offset);
                    if (meta)
                        meta->insert(QStringLiteral(".tag"), QStringLiteral("success"));
                    entries.append(
                        meta ? *meta
                             : json(R"({".tag": "failure", "failure": {".tag": "path", "path": %1}})",
                                    json(folderConflict)));
                }
            }
            sendJson(res, 200, json(R"({"entries": %1})", entries));
        });

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
                entry.linkToken = token(21);
                entry.rlkey = token(25);
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

    api("users/get_current_account", false, [this](const QJsonObject&, Response& res, const ContentReader*) {
        QJsonObject body =
            json(R"({"account_id": %1, "name": {"display_name": %2, "given_name": %3}, "email": %4,
                                    "email_verified": true, "account_type": {".tag": "basic"}})",
                 account.id, account.displayName, account.displayName.section(QLatin1Char(' '), 0, 0),
                 account.email);
        if (!account.photoUrl.isEmpty())
            body.insert(QStringLiteral("profile_photo_url"), account.photoUrl);
        sendJson(res, 200, body);
    });

    server.Post("/oauth2/token", [this](const Request& req, Response& res) {
        std::lock_guard lock(mutex);
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

    server.Get(R"(/scl/fi/([^/]+)/([^/]+))", [this](const Request& req, Response& res) {
        const QString linkToken = QString::fromStdString(req.matches[1]);
        std::lock_guard lock(mutex);
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

DropboxEmulator::DropboxEmulator(const QString& storageDir)
    : EmulatorServer(storageDir), d(new State{core()}) {
    d->routes();
}

DropboxEmulator::~DropboxEmulator() {
    stop();
}

QString DropboxEmulator::shareHost() const {
    return QStringLiteral("localhost:%1").arg(port());
}

void DropboxEmulator::pointConfigHere() const {
    Config& config = Config::instance();
    config.set(ConfigKey::DropboxApiUrl, baseUrl());
    config.set(ConfigKey::DropboxContentUrl, baseUrl());
    config.set(ConfigKey::DropboxTokenUrl, baseUrl() + QStringLiteral("/oauth2/token"));
    config.set(ConfigKey::DropboxShareHost, shareHost());
    config.set(ConfigKey::DropboxDirectHost, QStringLiteral("127.0.0.1:%1").arg(port()));
    config.set(ConfigKey::DropboxAppKey, QStringLiteral("emu0app0key0001"));
}

void DropboxEmulator::setAccount(const Account& account) {
    core().locked([&] { d->account = account; });
}
void DropboxEmulator::setSlowBytesPerSecond(qint64 rate) {
    core().locked([&] { d->slowRate = qMax<qint64>(rate, 1); });
}
void DropboxEmulator::setOmitExistingLinkMetadata(bool omit) {
    core().locked([&] { d->omitLinkMetadata = omit; });
}

void DropboxEmulator::injectFault(const QString& route, Fault fault, int times, int retryAfterSeconds) {
    const QString key = fault == Fault::ExpireSession ? route + QStringLiteral("#expire") : route;
    core().locked([&] { d->faults.push(key, fault, times, retryAfterSeconds); });
}

QString DropboxEmulator::storedFile(const QString& remotePath) const {
    return core().locked([&] {
        return d->files.count(remotePath.toLower()) ? d->files[remotePath.toLower()].blob : QString();
    });
}

QString DropboxEmulator::displayPath(const QString& remotePath) const {
    return core().locked([&] {
        return d->files.count(remotePath.toLower()) ? d->files[remotePath.toLower()].display : QString();
    });
}

bool DropboxEmulator::folderExists(const QString& path) const {
    return core().locked([&] { return d->folders.count(path.toLower()) > 0; });
}
QStringList DropboxEmulator::rejectedArgs() const {
    return core().locked([&] { return d->rejectedArgs; });
}
