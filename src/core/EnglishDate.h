#pragma once

#include <QDate>
#include <QString>

// "3 May 2026": the day, the English month name and the year, whatever the system locale.
// How dates read in messages for testers and on the install page.
QString englishDate(const QDate& date);
