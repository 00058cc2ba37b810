#include "history/HistoryModel.h"

#include "records/ZappWire.h"

#include <QDateTime>

#include <algorithm>

namespace history {

QList<Zapp> sortedNewestFirst(QList<Zapp> apps) {
    std::stable_sort(apps.begin(), apps.end(),
                     [](const Zapp& a, const Zapp& b) { return a.appdate > b.appdate; });
    return apps;
}

QString publicLink(const QString& baseUrl, const QString& appid) {
    return ZappWire::publicLink(baseUrl, appid);
}

QString displayDate(const QString& appdate, const QLocale& locale) {
    const QDateTime when = QLocale(QLocale::C).toDateTime(appdate, QStringLiteral("yyyy/MM/dd HH:mm"));
    if (!when.isValid())
        return appdate;
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), QLocale::ShortFormat);
}

} // namespace history
