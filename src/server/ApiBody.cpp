#include "server/ApiBody.h"

#include <QJsonDocument>

namespace apibody {

std::optional<QJsonObject> object(const ApiRequest& request, ApiResponse* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = ApiResponse::failure(400, QStringLiteral("Malformed JSON body"));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = ApiResponse::failure(400, QStringLiteral("The body must be a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

std::optional<QHash<QString, QString>> texts(const QJsonObject& object, const QStringList& keys,
                                             ApiResponse* error) {
    QHash<QString, QString> out;
    for (const QString& key : keys) {
        const QJsonValue v = object.value(key);
        if (v.isUndefined()) {
            *error = ApiResponse::failure(400, QStringLiteral("Missing key \"%1\"").arg(key));
            return std::nullopt;
        }
        if (!v.isString()) {
            *error = ApiResponse::failure(400, QStringLiteral("Key \"%1\" must be a text").arg(key));
            return std::nullopt;
        }
        out.insert(key, v.toString());
    }
    return out;
}

ApiResponse storageFailure() {
    return ApiResponse::failure(500, QStringLiteral("Storage failure"));
}

} // namespace apibody
