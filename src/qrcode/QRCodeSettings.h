#pragma once

#include <QVariant>
#include <QVariantMap>

#include <optional>

// Settings dictionaries are the stored form of shapes and fills: plain values only.
namespace qrsettings {

inline bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

inline std::optional<double> number(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.constEnd() || !isNumber(*it))
        return std::nullopt;
    return it->toDouble();
}

// Missing keys and values of another type read as 0.
inline double numberOrZero(const QVariantMap& map, const QString& key) {
    return number(map, key).value_or(0.0);
}

inline std::optional<QString> string(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

inline std::optional<QVariantMap> dictionary(const QVariantMap& map, const QString& key) {
    const auto it = map.constFind(key);
    if (it == map.constEnd() || it->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return it->toMap();
}

} // namespace qrsettings
