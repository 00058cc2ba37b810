#pragma once

#include <QStringList>
#include <QVariantMap>

// One crash report, kept in the preference "hasCrashed" until the backend confirms it.
struct Crash {
    QString name;
    QString reason;
    QString exception; // extra information as "key: value" text, empty when there is none
    QStringList callStackSymbols;

    Crash() = default;
    // From the stored dictionary: missing or non-text fields give empty texts, a missing or
    // non-list stack gives one empty line.
    explicit Crash(const QVariantMap& stored);
    QVariantMap toDictionary() const;

    // The stack as one bracketed text: ["line one", "line \"two\""].
    QString callStackText() const;

    bool operator==(const Crash&) const = default;
};
