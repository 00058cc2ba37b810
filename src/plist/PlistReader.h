#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// Reads XML and binary property lists into Qt values: dictionaries become QVariantMap, arrays
// QVariantList, strings QString, integers qlonglong (libplist stores them two's-complement), reals
// double, booleans bool, data QByteArray and dates QDateTime (UTC).
// Every list passes PlistGuard before libplist parses it.
class PlistReader {
public:
    enum class Problem {
        None,
        Unreadable,    // missing, unreadable, or not a property list
        Refused,       // damaged or too complex to parse safely (PlistGuard), or too large
        NotDictionary, // a property list whose root is of another type
    };
    struct Result {
        std::optional<QVariantMap> dictionary;
        Problem problem = Problem::None;
    };

    // Larger files are refused unread: an Info.plist is a few kilobytes.
    static constexpr qint64 maxBytes = 16 * 1024 * 1024;

    static Result read(const QString& path);
    static Result fromBytes(const QByteArray& bytes);

    // The root of the file when it is a dictionary; nothing otherwise.
    static std::optional<QVariantMap> readDictionary(const QString& path) { return read(path).dictionary; }
    static std::optional<QVariantMap> dictionaryFromBytes(const QByteArray& bytes) {
        return fromBytes(bytes).dictionary;
    }
};
