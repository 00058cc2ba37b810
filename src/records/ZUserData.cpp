#include "records/ZUserData.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

bool fail(QString* error, const QString& message) {
    if (error)
        *error = message;
    return false;
}

bool readText(const QJsonObject& o, const char* key, QString& out, QString* error) {
    const QString k = QString::fromLatin1(key);
    if (!o.contains(k))
        return fail(error, QStringLiteral("No value associated with key \"%1\".").arg(k));
    const QJsonValue v = o.value(k);
    if (!v.isString())
        return fail(error, QStringLiteral("Expected to decode String for key \"%1\".").arg(k));
    out = v.toString();
    return true;
}

bool readNull(const QJsonObject& o, const char* key, std::optional<JSONNull>& out, QString* error) {
    const QString k = QString::fromLatin1(key);
    if (!o.contains(k))
        return true;
    if (!o.value(k).isNull())
        return fail(error, QStringLiteral("Wrong type for JSONNull"));
    out = JSONNull{};
    return true;
}

bool readTime(const QJsonObject& o, const char* key, std::optional<qint64>& out, QString* error) {
    const QString k = QString::fromLatin1(key);
    if (!o.contains(k))
        return true;
    const QJsonValue v = o.value(k);
    if (!v.isDouble())
        return fail(error, QStringLiteral("Expected to decode Int64 for key \"%1\".").arg(k));
    out = qint64(v.toDouble());
    return true;
}

} // namespace

std::optional<Response> Response::fromJson(const QJsonValue& value, QString* error) {
    if (!value.isObject()) {
        fail(error, QStringLiteral("Expected to decode Dictionary for a response element."));
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    Response r;
    if (readText(o, "id", r.id, error) && readText(o, "appid", r.appid, error) &&
        readText(o, "platform", r.platform, error) && readText(o, "name", r.name, error) &&
        readText(o, "useragent", r.useragent, error) && readNull(o, "udid", r.udid, error) &&
        readNull(o, "devicename", r.devicename, error) &&
        readNull(o, "deviceversion", r.deviceversion, error) &&
        readTime(o, "installedAt", r.installedAt, error))
        return r;
    return std::nullopt;
}

QJsonObject Response::toJson() const {
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("appid"), appid},
                  {QStringLiteral("platform"), platform},
                  {QStringLiteral("name"), name},
                  {QStringLiteral("useragent"), useragent}};
    if (udid)
        o.insert(QStringLiteral("udid"), QJsonValue::Null);
    if (devicename)
        o.insert(QStringLiteral("devicename"), QJsonValue::Null);
    if (deviceversion)
        o.insert(QStringLiteral("deviceversion"), QJsonValue::Null);
    if (installedAt)
        o.insert(QStringLiteral("installedAt"), double(*installedAt));
    return o;
}

std::optional<ZUserData> ZUserData::fromJson(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(error, QStringLiteral("The given data was not valid JSON: %1").arg(parseError.errorString()));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        fail(error, QStringLiteral("Expected to decode Dictionary but found an array instead."));
        return std::nullopt;
    }
    return fromJson(doc.object(), error);
}

std::optional<ZUserData> ZUserData::fromJson(const QJsonObject& o, QString* error) {
    ZUserData data;
    if (!o.contains(QStringLiteral("isSuccess"))) {
        fail(error, QStringLiteral("No value associated with key \"isSuccess\"."));
        return std::nullopt;
    }
    if (!o.value(QStringLiteral("isSuccess")).isBool()) {
        fail(error, QStringLiteral("Expected to decode Bool for key \"isSuccess\"."));
        return std::nullopt;
    }
    data.isSuccess = o.value(QStringLiteral("isSuccess")).toBool();
    if (!o.contains(QStringLiteral("response"))) {
        fail(error, QStringLiteral("No value associated with key \"response\"."));
        return std::nullopt;
    }
    if (!o.value(QStringLiteral("response")).isArray()) {
        fail(error, QStringLiteral("Expected to decode Array for key \"response\"."));
        return std::nullopt;
    }
    for (const QJsonValue& element : o.value(QStringLiteral("response")).toArray()) {
        std::optional<Response> r = Response::fromJson(element, error);
        if (!r)
            return std::nullopt;
        data.response.append(*r);
    }
    return data;
}

QJsonObject ZUserData::toJsonObject() const {
    QJsonArray list;
    for (const Response& r : response)
        list.append(r.toJson());
    return {{QStringLiteral("isSuccess"), isSuccess}, {QStringLiteral("response"), list}};
}

QByteArray ZUserData::toJson() const {
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}
