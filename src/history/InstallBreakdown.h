#pragma once

#include "records/ZUserData.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// Installs of one app counted by operating system, read from each install's user agent.
struct InstallBreakdown {
    struct Line {
        QString key; // OS name + " " + OS version, absent parts empty, "ios" written "iOS"
        int count = 0;
        bool operator==(const Line&) const = default;
    };

    int total = 0;
    QMap<QString, int> counts;
    // Most devices first, then by key, so the same installs always read the same way.
    QList<Line> lines;

    // One parser per install, in answer order.
    static InstallBreakdown fromInstalls(const QList<Response>& installs);
    static QString osKey(const QString& userAgent);

    // Each line as key + "  →  " + n + " device(s)" and a line feed.
    QString text() const;
    // Each line as {"version": key, "number": n}.
    QList<QMap<QString, QString>> entries() const;

    // Installs per local calendar day over the days ending with today, oldest first; nullopt when
    // there are installs but none carries its time (a server that does not send it).
    static std::optional<QList<int>> daily(const QList<Response>& installs, const QDateTime& now,
                                           int days = 30);
};
