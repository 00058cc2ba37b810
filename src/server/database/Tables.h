#pragma once

#include "server/Database.h"
#include "server/database/SqlConnection.h"

#include <vector>

// The statements of the Database methods, written once for every engine, and per table the one
// column list with the reader and the values that follow it. A new column: a schema step, then
// its name in the table's list and its field in the reader and the values.
namespace tables {

// users
extern const SqlStatement insertUser; // nothing written when the user exists
extern const SqlStatement updateUser; // answers the secret hash now stored; no row: refused
extern const SqlStatement secretOf;
extern const SqlStatement resetSecret;
extern const SqlStatement user;
StoredUser readUser(const SqlRow& row);
// An empty secretHash is stored as NULL: a user without a secret.
std::vector<SqlValue> newUserValues(const StoredUser& user, const QString& secretHash, qint64 now);

// apps
extern const SqlStatement insertApp;
extern const SqlStatement appsOf; // in the order stored
extern const SqlStatement appCount;
extern const SqlStatement app;
extern const SqlStatement appsOfLatestKey; // newest first
extern const SqlStatement addLatestKey;
extern const SqlStatement latestKeyOf;
extern const SqlStatement setAppDescription;
extern const SqlStatement bumpAppEdits;
extern const SqlStatement appListStamp;
StoredApp readApp(const SqlRow& row);
std::vector<SqlValue> appValues(const StoredApp& app, qint64 now);

// installs
extern const SqlStatement insertInstall;
extern const SqlStatement installsOf; // without repeats
extern const SqlStatement allInstallsOf;
StoredInstall readInstall(const SqlRow& row);
std::vector<SqlValue> installValues(const StoredInstall& install, qint64 now);

// crashes
extern const SqlStatement insertCrash;
extern const SqlStatement crashCount;
std::vector<SqlValue> crashValues(const StoredCrash& crash, qint64 now);

// device checks
extern const SqlStatement provisionedDeviceIds;
extern const SqlStatement dropDeviceChallenges;
extern const SqlStatement insertDeviceChallenge;
extern const SqlStatement takeDeviceChallenge;
extern const SqlStatement dropDeviceChecks;
extern const SqlStatement insertDeviceCheck;
extern const SqlStatement deviceCheck;
extern const SqlStatement deviceChecksOf; // newest first
StoredDeviceCheck readDeviceCheck(const SqlRow& row);
std::vector<SqlValue> deviceCheckValues(const StoredDeviceCheck& check);

extern const SqlStatement ping;

} // namespace tables
