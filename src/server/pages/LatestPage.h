#pragma once

#include "records/Zapp.h"

#include <QList>
#include <QString>

// What the pages say about an app's other builds. A build's own page that is no longer the
// newest: "A newer version (1.3) is available.", linking to the stable page; "" otherwise.
QString newerVersionNotice(const QString& newerVersion, const QString& latestUrl);

// The stable page's list under the newest build: the earlier builds, newest first, each with its
// version (linking to the build's own page), date, the first line of its notes and its install link.
QString earlierBuildsSection(const QList<Zapp>& builds, const QString& publicUrl);

// The rules of both, for the page's style sheet.
QString latestPageStyle();
