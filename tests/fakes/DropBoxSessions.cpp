#include "DropBoxEmulatorState.h"

void DropBoxEmulator::State::appendPiece(const QString& id, const QString& blob, qint64 offset, bool close,
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

void DropBoxEmulator::State::sessionRoutes() {
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
            const QString id = QStringLiteral("pid_upload_session:") + randomId(40);
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
}
