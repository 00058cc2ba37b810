#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstddef>
#include <optional>

// Stands for JSON null: decodes only from null, encodes as null. All values are equal.
struct JSONNull {
    bool operator==(const JSONNull&) const { return true; }
};
inline size_t qHash(const JSONNull&, size_t = 0) {
    return 0;
}

// One recorded install of an app.
struct Response {
    QString id;
    QString appid;
    QString platform;
    QString name;
    QString useragent;
    std::optional<JSONNull> udid;
    std::optional<JSONNull> devicename;
    std::optional<JSONNull> deviceversion;
    // Seconds since the epoch, from "installedAt" when the server sends it (vantry-server does).
    std::optional<qint64> installedAt;

    // Strict: every text field required and of type string, the three optional ones absent or null.
    static std::optional<Response> fromJson(const QJsonValue& value, QString* error = nullptr);
    QJsonObject toJson() const;
    bool operator==(const Response&) const = default;
};

// The answer of the install statistics request.
struct ZUserData {
    bool isSuccess = false;
    QList<Response> response;

    // The whole answer fails when any part of it does; error describes the first fault.
    static std::optional<ZUserData> fromJson(const QByteArray& json, QString* error = nullptr);
    static std::optional<ZUserData> fromJson(const QJsonObject& object, QString* error = nullptr);
    QJsonObject toJsonObject() const;
    QByteArray toJson() const;
    bool operator==(const ZUserData&) const = default;
};
