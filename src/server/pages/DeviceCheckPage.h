#pragma once

#include "server/pages/InstallPage.h"

#include <QString>

class Database;
struct StoredApp;

// What an app's install page says about the device check, apart from the rest of the page.
struct DeviceCheckSection {
    QString answer;               // above the install button: the answer of a check
    QString offer;                // below it: "Check my device"
    bool withholdInstall = false; // the check found the device missing: no button that would fail
};

// The offer goes to iPhone and iPad visitors of iOS development and ad hoc builds that carry
// their device list; the answer to whoever holds the check's link (checkId from "?device="),
// while the check is kept. now: seconds since the epoch.
DeviceCheckSection deviceCheckSection(Database& database, const StoredApp& app, const QString& pageUrl,
                                      ViewerPlatform viewer, const QString& checkId, qint64 now);
