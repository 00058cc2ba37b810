#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// Reads XML and binary property lists into Qt values: dictionaries become QVariantMap, arrays
// QVariantList, strings QString, integers qlonglong (libplist stores them two's-complement), reals
// double, booleans bool, data QByteArray and dates QDateTime (UTC).
class PlistReader {
public:
    // The root of the file when it is a dictionary; nothing when the file is missing,
    // unreadable, not a property list, or its root is of another type.
    static std::optional<QVariantMap> readDictionary(const QString& path);
    static std::optional<QVariantMap> dictionaryFromBytes(const QByteArray& bytes);
};
