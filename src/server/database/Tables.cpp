#include "server/database/Tables.h"

namespace {

std::string insertInto(const char* table, const std::string& columns) {
    std::string marks = "?";
    for (const char c : columns)
        if (c == ',')
            marks += ", ?";
    return std::string("INSERT INTO ") + table + " (" + columns + ") VALUES (" + marks + ")";
}

std::string select(const std::string& columns, const char* rest) {
    return "SELECT " + columns + " " + rest;
}

const std::string kUserColumns = "userid, email, username, photo_url";
const std::string kAppColumns =
    "appid, userid, appname, appicon, appversion, appurl, appdate, appsize, minos, "
    "qrlink, appdescription, profile_kind, profile_expiry, provisioned_devices, bundleid, latest_key";
const std::string kInstallColumns = "id, appid, platform, name, useragent, created_at, repeat";
const std::string kCheckColumns = "id, appid, udid, product, version, device_name, included, created_at";
const std::string kCrashColumns = "name, reason, exception, call_stack_symbols, received_at";

} // namespace

namespace tables {

// users: kUserColumns, then what only writes touch
const SqlStatement insertUser{"insert_user",
                              insertInto("users", kUserColumns + ", created_at, updated_at, secret_hash") +
                                  " ON CONFLICT (userid) DO NOTHING"};
// One statement decides and writes, so two first registrations cannot both get a secret.
const SqlStatement updateUser{
    "update_user",
    "UPDATE users SET email = ?, username = ?, photo_url = ?, updated_at = ?, "
    "secret_hash = CASE WHEN secret_hash IS NULL OR secret_hash = 'reset' THEN ? ELSE secret_hash END "
    "WHERE userid = ? AND (secret_hash IS NULL OR secret_hash = 'reset' OR secret_hash = ?) "
    "RETURNING secret_hash"};
const SqlStatement secretOf{"secret_hash", "SELECT secret_hash FROM users WHERE userid = ?"};
const SqlStatement resetSecret{"reset_secret",
                               "UPDATE users SET secret_hash = 'reset', updated_at = ? WHERE userid = ?"};
const SqlStatement user{"user", select(kUserColumns, "FROM users WHERE userid = ?")};

StoredUser readUser(const SqlRow& r) {
    return StoredUser{r.text(0), r.text(1), r.text(2), r.text(3)};
}

std::vector<SqlValue> newUserValues(const StoredUser& u, const QString& secretHash, qint64 now) {
    return {u.userid, u.email, u.username, u.photoURL, now, now, SqlValue::orNull(secretHash)};
}

// apps: kAppColumns, then created_at
// The device list is written with the app but read only on its own (the app list never needs it).
const SqlStatement insertApp{
    "insert_app", insertInto("apps", kAppColumns + ", provisioned_device_ids, created_at"), "appid"};
const SqlStatement appsOf{"apps_of", select(kAppColumns, "FROM apps WHERE userid = ? ORDER BY seq")};
const SqlStatement appCount{"app_count", "SELECT count(*) FROM apps WHERE userid = ?"};
const SqlStatement app{"app", select(kAppColumns, "FROM apps WHERE appid = ?")};
const SqlStatement appsOfLatestKey{
    "apps_of_latest_key", select(kAppColumns, "FROM apps WHERE latest_key = ? ORDER BY seq DESC LIMIT ?")};
// Adds the first build's key; nothing when the triple has one, or the key is another's already.
const SqlStatement addLatestKey{"add_latest_key",
                                "INSERT INTO latest_links (key, userid, bundleid, platform, created_at) "
                                "VALUES (?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"};
const SqlStatement latestKeyOf{
    "latest_key_of", "SELECT key FROM latest_links WHERE userid = ? AND bundleid = ? AND platform = ?"};
const SqlStatement setAppDescription{"set_app_description",
                                     "UPDATE apps SET appdescription = ? WHERE appid = ?"};
// After the notes: a list written in between carries the old stamp and is written again.
const SqlStatement bumpAppEdits{
    "bump_app_edits",
    "UPDATE users SET app_edits = app_edits + 1 WHERE userid = (SELECT userid FROM apps WHERE appid = ?)"};
const SqlStatement appListStamp{"app_list_stamp",
                                "SELECT (SELECT count(*) FROM apps WHERE userid = ?) + "
                                "COALESCE((SELECT app_edits FROM users WHERE userid = ?), 0)"};

StoredApp readApp(const SqlRow& r) {
    return StoredApp{r.text(0),  r.text(1),  r.text(2),  r.text(3), r.text(4),  r.text(5),
                     r.text(6),  r.text(7),  r.text(8),  r.text(9), r.text(10), r.text(11),
                     r.text(12), r.text(13), r.text(14), r.text(15)};
}

std::vector<SqlValue> appValues(const StoredApp& a, qint64 now) {
    return {a.appid,
            a.userid,
            a.appname,
            a.appicon,
            a.appversion,
            a.appurl,
            a.appdate,
            a.appsize,
            a.minos,
            a.qrLink,
            a.appdescription,
            SqlValue::orNull(a.profilekind),
            SqlValue::orNull(a.profileexpiry),
            SqlValue::orNull(a.provisioneddevices),
            SqlValue::orNull(a.bundleid),
            SqlValue::orNull(a.latestKey),
            SqlValue::orNull(a.provisioneddeviceids),
            now};
}

// installs: kInstallColumns
const SqlStatement insertInstall{"insert_install", insertInto("installs", kInstallColumns), "id"};
const SqlStatement installsOf{
    "installs_of", select(kInstallColumns, "FROM installs WHERE appid = ? AND repeat = 0 ORDER BY seq")};
const SqlStatement allInstallsOf{"all_installs_of",
                                 select(kInstallColumns, "FROM installs WHERE appid = ? ORDER BY seq")};

StoredInstall readInstall(const SqlRow& r) {
    return StoredInstall{r.text(0), r.text(1),   r.text(2),       r.text(3),
                         r.text(4), r.number(5), r.number(6) != 0};
}

// createdAt is the database's to set.
std::vector<SqlValue> installValues(const StoredInstall& i, qint64 now) {
    return {i.id, i.appid, i.platform, i.name, i.useragent, now, qint64(i.repeat ? 1 : 0)};
}

// crashes: kCrashColumns
const SqlStatement insertCrash{"insert_crash", insertInto("crashes", kCrashColumns)};
const SqlStatement crashCount{"crash_count", "SELECT COUNT(*) FROM crashes"};

std::vector<SqlValue> crashValues(const StoredCrash& c, qint64 now) {
    return {c.name, c.reason, c.exception, c.callStackSymbols, now};
}

// device checks: kCheckColumns
const SqlStatement provisionedDeviceIds{"provisioned_device_ids",
                                        "SELECT provisioned_device_ids FROM apps WHERE appid = ?"};
const SqlStatement dropDeviceChallenges{"drop_device_challenges",
                                        "DELETE FROM device_challenges WHERE expires_at <= ?"};
const SqlStatement insertDeviceChallenge{"insert_device_challenge",
                                         insertInto("device_challenges", "challenge, appid, expires_at")};
const SqlStatement takeDeviceChallenge{
    "take_device_challenge",
    "DELETE FROM device_challenges WHERE challenge = ? AND appid = ? AND expires_at > ?"};
const SqlStatement dropDeviceChecks{"drop_device_checks", "DELETE FROM device_checks WHERE created_at < ?"};
const SqlStatement insertDeviceCheck{"insert_device_check", insertInto("device_checks", kCheckColumns), "id"};
const SqlStatement deviceCheck{"device_check", select(kCheckColumns, "FROM device_checks WHERE id = ?")};
const SqlStatement deviceChecksOf{
    "device_checks_of",
    select(kCheckColumns, "FROM device_checks WHERE appid = ? AND created_at >= ? ORDER BY seq DESC")};

StoredDeviceCheck readDeviceCheck(const SqlRow& r) {
    return {r.text(0), r.text(1), r.text(2), r.text(3), r.text(4), r.text(5), r.number(6) != 0, r.number(7)};
}

std::vector<SqlValue> deviceCheckValues(const StoredDeviceCheck& c) {
    return {c.id,       c.appid, c.udid, c.product, c.version, c.deviceName, qint64(c.included ? 1 : 0),
            c.createdAt};
}

const SqlStatement ping{"ping", "SELECT 1"};

} // namespace tables
