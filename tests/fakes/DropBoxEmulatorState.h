#pragma once

// The Dropbox emulator's state and HTTP plumbing, shared by its route files (DropBoxEmulator.cpp,
// DropBoxSessions.cpp); included by nothing else.

#include "DropBoxEmulator.h"
#include "EmulatorCore.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>

#include <chrono>

namespace dropboxemu {
using namespace emu;

inline void sendJson(Response& res, int status, const QJsonObject& body) {
    emu::sendJson(res, status, body, "application/json");
}

inline void routeError(Response& res, const QString& summary, const QJsonObject& error) {
    sendJson(res, 409, json(R"({"error_summary": %1, "error": %2})", summary, error));
}

inline void badRequest(Response& res, const std::string& route, const std::string& why) {
    res.status = 400;
    res.set_content("Error in call to API function \"" + route + "\": " + why, "text/plain; charset=utf-8");
}

inline const char* const folderConflict = R"({".tag": "conflict", "conflict": {".tag": "folder"}})";

struct FileEntry {
    QString display, blob, id, rev;
    qint64 size = 0;
    QString linkToken, rlkey;
};

// A concurrent upload session (the only kind the client opens): the pieces received (offset ->
// length) and, once closed, the size.
struct Session {
    QString blob;
    bool closed = false;
    std::map<qint64, qint64> pieces;
    qint64 size = -1;

    // The pieces cover [0, size) without a gap.
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

inline QJsonObject tagged(const char* tag) {
    return json(R"({".tag": %1})", QString::fromLatin1(tag));
}

// The cursor's session and offset of an upload-session request.
inline std::pair<QString, qint64> cursorOf(const QJsonObject& arg) {
    const QJsonObject cursor = arg.value(QStringLiteral("cursor")).toObject();
    return {cursor.value(QStringLiteral("session_id")).toString(),
            qint64(cursor.value(QStringLiteral("offset")).toDouble(-1))};
}
} // namespace dropboxemu

using namespace dropboxemu;

struct DropBoxEmulator::State {
    EmulatorCore& core;
    std::map<QString, QString> folders; // path_lower -> display
    std::map<QString, FileEntry> files; // path_lower -> entry
    std::map<QString, Session> sessions;
    FaultQueue<Fault> faults;
    qint64 slowRate = 4 << 20;
    bool omitLinkMetadata = false;

    using Handler = std::function<void(const QJsonObject& arg, Response&, const ContentReader*)>;

    // Bearer check shared by every API route; false when the answer is already set.
    bool authorized(const Request& req, Response& res) {
        const QString bearer = EmulatorCore::credential(req, "Bearer");
        std::lock_guard lock(core.mutex);
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
        entry = {display,      blob, entry.id.isEmpty() ? QStringLiteral("id:") + randomId(22) : entry.id,
                 randomId(12), size, entry.linkToken,
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
            std::lock_guard lock(core.mutex);
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
            std::lock_guard lock(core.mutex);
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
            core.server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res,
                                                                   const ContentReader& reader) {
                handle(route, handler, req, res, &reader);
            });
        else
            core.server.Post("/2/" + route, [this, route, handler](const Request& req, Response& res) {
                handle(route, handler, req, res, nullptr);
            });
    }

    // A concurrent session's piece: at a 4 MiB boundary, a multiple of 4 MiB unless it closes the
    // session; stored where its offset says, counted only once it arrived whole.
    void appendPiece(const QString& id, const QString& blob, qint64 offset, bool close,
                     const ContentReader& reader, Response& res);

    void routes();
    void sessionRoutes(); // files/upload_session/*
};
