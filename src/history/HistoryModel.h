#pragma once

#include "records/Zapp.h"

#include <QList>
#include <QLocale>
#include <QString>

// What the history list and the details pane compute from app records, without any widget.
namespace history {

// Newest first by the "yyyy/MM/dd HH:mm" text of appdate, compared as plain text (the form sorts
// chronologically); records with equal dates keep their answer order.
QList<Zapp> sortedNewestFirst(QList<Zapp> apps);

// The app's public page: the base URL followed by appid with every "__android" removed.
QString publicLink(const QString& baseUrl, const QString& appid);

// appdate read as "yyyy/MM/dd HH:mm" (POSIX locale) and written in locale's short date and time;
// a text of another form is shown as it stands rather than as an empty line.
QString displayDate(const QString& appdate, const QLocale& locale = QLocale());

} // namespace history
