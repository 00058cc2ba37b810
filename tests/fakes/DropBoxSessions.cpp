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
    if (!core.streamBody(reader, blob, false, offset, &length))
        return;
    std::lock_guard lock(core.mutex);
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
            it->second.size = offset + length;
        }
        res.status = 200;
        res.set_content("null", "application/json");
    }
}

void DropBoxEmulator::State::sessionRoutes() {
    // Concurrent sessions start empty and open.
    api("files/upload_session/start", true,
        [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
            const QString blob = receive(*reader);
            if (blob.isEmpty())
                return;
            const QJsonValue type = arg.value(QStringLiteral("session_type"));
            const bool concurrent = (type.isObject() ? type[QStringLiteral(".tag")] : type).toString() ==
                                    QLatin1String("concurrent");
            const char* why = !concurrent ? "unsupported_session_type"
                              : arg.value(QStringLiteral("close")).toBool()
                                  ? "concurrent_session_close_not_allowed"
                              : QFileInfo(blob).size() > 0 ? "concurrent_session_data_not_allowed"
                                                           : nullptr;
            if (why) {
                QFile::remove(blob);
                routeError(res, QString::fromLatin1(why) + QStringLiteral("/.."), tagged(why));
                return;
            }
            const QString id = QStringLiteral("pid_upload_session:") + randomId(40);
            std::lock_guard lock(core.mutex);
            sessions[id] = {blob};
            sendJson(res, 200, json(R"({"session_id": %1})", id));
        });

    api("files/upload_session/append_v2", true,
        [this](const QJsonObject& arg, Response& res, const ContentReader* reader) {
            const auto [id, offset] = cursorOf(arg);
            const QString blob = core.locked([&, id = id] {
                const auto it = sessions.find(id);
                return it == sessions.end() || it->second.closed ? QString() : it->second.blob;
            });
            if (!blob.isEmpty()) {
                appendPiece(id, blob, offset, arg.value(QStringLiteral("close")).toBool(), *reader, res);
                return;
            }
            discard(reader);
            routeError(res, QStringLiteral("not_found/.."), tagged("not_found"));
        });

    api("files/upload_session/finish_batch_v2", false,
        [this](const QJsonObject& arg, Response& res, const ContentReader*) {
            QJsonArray entries;
            for (const QJsonValue& value : arg.value(QStringLiteral("entries")).toArray()) {
                const auto [id, offset] = cursorOf(value.toObject());
                const auto failure = [&](const QJsonObject& why) {
                    entries.append(json(R"({".tag": "failure", "failure": %1})", why));
                };
                if (faults.take(QStringLiteral("files/upload_session/finish_batch_v2#expire")))
                    sessions.erase(id);
                const auto it = sessions.find(id);
                if (it == sessions.end()) {
                    failure(json(R"({".tag": "lookup_failed", "lookup_failed": {".tag": "not_found"}})"));
                } else if (!it->second.closed || !it->second.complete()) {
                    failure(tagged(it->second.closed ? "concurrent_session_missing_data"
                                                     : "concurrent_session_not_closed"));
                } else if (offset != it->second.size) {
                    failure(json(R"({".tag": "lookup_failed", "lookup_failed": {".tag": "incorrect_offset",
                                    "correct_offset": %1}})",
                                 it->second.size));
                } else {
                    const Session session = it->second;
                    sessions.erase(it);
                    QFile::resize(session.blob, session.size);
                    std::optional<QJsonObject> meta =
                        commit(value[QStringLiteral("commit")].toObject(), session.blob, session.size);
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
