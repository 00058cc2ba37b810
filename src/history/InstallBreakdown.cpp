#include "history/InstallBreakdown.h"

#include "useragent/UAParser.h"

#include <algorithm>

QString InstallBreakdown::osKey(const QString& userAgent) {
    UAParser parser(userAgent);
    const std::optional<OS>& os = parser.os();
    const QString name = os && os->name ? *os->name : QString();
    const QString version = os && os->version ? *os->version : QString();
    QString key = name + QLatin1Char(' ') + version;
    return key.replace(QStringLiteral("ios"), QStringLiteral("iOS"));
}

InstallBreakdown InstallBreakdown::fromInstalls(const QList<Response>& installs) {
    InstallBreakdown breakdown;
    breakdown.total = int(installs.size());
    for (const Response& install : installs)
        ++breakdown.counts[osKey(install.useragent)];
    for (auto it = breakdown.counts.cbegin(); it != breakdown.counts.cend(); ++it)
        breakdown.lines.append({it.key(), it.value()});
    std::stable_sort(breakdown.lines.begin(), breakdown.lines.end(),
                     [](const Line& a, const Line& b) { return a.count > b.count; });
    return breakdown;
}

QString InstallBreakdown::text() const {
    QString out;
    for (const Line& line : lines)
        out += line.key + QStringLiteral("  \u2192  ") + QString::number(line.count) +
               QStringLiteral(" device(s)\n");
    return out;
}

QList<QMap<QString, QString>> InstallBreakdown::entries() const {
    QList<QMap<QString, QString>> out;
    for (const Line& line : lines)
        out.append(
            {{QStringLiteral("version"), line.key}, {QStringLiteral("number"), QString::number(line.count)}});
    return out;
}

std::optional<QList<int>> InstallBreakdown::daily(const QList<Response>& installs, const QDateTime& now,
                                                  int days) {
    QList<int> perDay(days, 0);
    bool anyTime = installs.isEmpty();
    const QDate today = now.toLocalTime().date();
    for (const Response& install : installs) {
        if (!install.installedAt)
            continue;
        anyTime = true;
        const QDate day = QDateTime::fromSecsSinceEpoch(*install.installedAt).toLocalTime().date();
        const qint64 back = day.daysTo(today);
        if (back >= 0 && back < days)
            ++perDay[days - 1 - back];
    }
    if (!anyTime)
        return std::nullopt;
    return perDay;
}
