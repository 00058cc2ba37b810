#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

// One HTTP request as the handlers see it: no sockets, so handlers are tested directly.
struct ApiRequest {
    QString method;                  // "GET", "POST", …
    QString path;                    // decoded, without the query
    QHash<QString, QString> headers; // names in lower case
    QByteArray body;
    QHash<QString, QString> params; // filled by the router from ":name" segments

    QString header(const QString& lowerName) const { return headers.value(lowerName); }
};

// One answer: a status and a body with its content type.
struct ApiResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra response headers

    // {"isSuccess": ok, "response": value}
    static ApiResponse json(int status, bool ok, const QJsonValue& response);
    static ApiResponse success(int status, const QJsonValue& response) {
        return json(status, true, response);
    }
    static ApiResponse failure(int status, const QString& message) { return json(status, false, message); }
    // {"isSuccess": true, "response": <responseJson>}, for answers written without QJsonDocument.
    static ApiResponse successRaw(int status, const QByteArray& responseJson);
    // Appends s as a JSON string literal (quoted, escaped, UTF-8).
    static void appendJsonString(QByteArray& out, const QString& s);
};
