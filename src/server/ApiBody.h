#pragma once

#include "server/ApiMessage.h"

#include <QHash>
#include <QJsonObject>
#include <QStringList>

#include <optional>

// What the API handlers read from a request and answer alike.
namespace apibody {

// The request body as a JSON object, or the 400 answer that explains why it is not one.
std::optional<QJsonObject> object(const ApiRequest& request, ApiResponse* error);
// Every key must be present with a text value.
std::optional<QHash<QString, QString>> texts(const QJsonObject& object, const QStringList& keys,
                                             ApiResponse* error);
ApiResponse storageFailure();

} // namespace apibody
