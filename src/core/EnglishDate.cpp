#include "core/EnglishDate.h"

QString englishDate(const QDate& date) {
    static const char* const months[] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
    if (!date.isValid())
        return {};
    return QStringLiteral("%1 %2 %3")
        .arg(date.day())
        .arg(QLatin1String(months[date.month() - 1]))
        .arg(date.year());
}
