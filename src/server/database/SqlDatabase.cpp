#include "server/database/SqlDatabase.h"

#include "server/database/Tables.h"

#include <QDateTime>

namespace {

qint64 now() {
    return QDateTime::currentSecsSinceEpoch();
}

Database::Insert insertResult(const SqlOutcome& outcome) {
    switch (outcome.status) {
    case SqlOutcome::Status::Done:
        return Database::Insert::Added;
    case SqlOutcome::Status::Duplicate:
        return Database::Insert::Duplicate;
    default:
        return Database::Insert::Failed;
    }
}

// The first row's record, when the statement answered one.
template <typename Record>
std::optional<Record> first(ConnectionPool& pool, const SqlStatement& statement, const QString& key,
                            Record (*read)(const SqlRow&)) {
    std::optional<Record> record;
    pool.run(statement, {key}, [&](const SqlRow& row) {
        if (!record)
            record = read(row);
    });
    return record;
}

template <typename Record>
std::optional<QList<Record>> all(ConnectionPool& pool, const SqlStatement& statement, const QString& key,
                                 Record (*read)(const SqlRow&)) {
    QList<Record> records;
    if (!pool.run(statement, {key}, [&](const SqlRow& row) { records.append(read(row)); }).ok())
        return std::nullopt;
    return records;
}

std::optional<qint64> number(ConnectionPool& pool, const SqlStatement& statement,
                             const std::vector<SqlValue>& values = {}) {
    std::optional<qint64> value;
    if (!pool.run(statement, values, [&](const SqlRow& row) { value = row.number(0); }).ok())
        return std::nullopt;
    return value;
}

} // namespace

SqlDatabase::SqlDatabase(std::vector<std::unique_ptr<SqlConnection>> connections,
                         ConnectionPool::FailureLog log)
    : m_pool(std::move(connections), std::move(log)) {}

Database::UserSave SqlDatabase::saveUser(const StoredUser& user, const QString& presentedHash,
                                         const QString& newSecretHash) {
    ConnectionPool::Lease connection(m_pool);
    const qint64 t = now();
    const SqlOutcome inserted =
        connection.run(tables::insertUser, tables::newUserValues(user, newSecretHash, t));
    if (!inserted.ok())
        return UserSave::Failed;
    if (inserted.changed > 0)
        return UserSave::Added;
    QString stored;
    const SqlOutcome updated = connection.run(tables::updateUser,
                                              {user.email, user.username, user.photoURL, t,
                                               SqlValue::orNull(newSecretHash), user.userid, presentedHash},
                                              [&stored](const SqlRow& row) { stored = row.text(0); });
    if (!updated.ok())
        return UserSave::Failed;
    if (updated.rows == 0)
        return UserSave::Refused;
    return stored == newSecretHash ? UserSave::UpdatedAndSecretSet : UserSave::Updated;
}

std::optional<StoredSecret> SqlDatabase::secretOf(const QString& userid) {
    StoredSecret secret;
    const SqlOutcome r = m_pool.run(tables::secretOf, {userid}, [&secret](const SqlRow& row) {
        secret = StoredSecret{true, row.text(0)};
    });
    if (!r.ok())
        return std::nullopt;
    return secret;
}

std::optional<bool> SqlDatabase::resetSecret(const QString& userid) {
    const SqlOutcome r = m_pool.run(tables::resetSecret, {now(), userid});
    if (!r.ok())
        return std::nullopt;
    return r.changed > 0;
}

std::optional<StoredUser> SqlDatabase::user(const QString& userid) {
    return first(m_pool, tables::user, userid, &tables::readUser);
}

Database::Insert SqlDatabase::insertApp(const StoredApp& app) {
    return insertResult(m_pool.run(tables::insertApp, tables::appValues(app, now())));
}

std::optional<QList<StoredApp>> SqlDatabase::appsOf(const QString& userid) {
    return all(m_pool, tables::appsOf, userid, &tables::readApp);
}

std::optional<qint64> SqlDatabase::appCount(const QString& userid) {
    return number(m_pool, tables::appCount, {userid});
}

std::optional<StoredApp> SqlDatabase::app(const QString& appid) {
    return first(m_pool, tables::app, appid, &tables::readApp);
}

Database::Insert SqlDatabase::insertInstall(const StoredInstall& install) {
    return insertResult(m_pool.run(tables::insertInstall, tables::installValues(install, now())));
}

std::optional<QList<StoredInstall>> SqlDatabase::installsOf(const QString& appid, bool withRepeats) {
    return all(m_pool, withRepeats ? tables::allInstallsOf : tables::installsOf, appid, &tables::readInstall);
}

bool SqlDatabase::insertCrash(const StoredCrash& crash) {
    return m_pool.run(tables::insertCrash, tables::crashValues(crash, now())).ok();
}

std::optional<int> SqlDatabase::crashCount() {
    const std::optional<qint64> count = number(m_pool, tables::crashCount);
    return count ? std::optional<int>(int(*count)) : std::nullopt;
}

bool SqlDatabase::isAvailable() {
    return m_pool.run(tables::ping).rows == 1;
}

std::optional<QString> SqlDatabase::provisionedDeviceIds(const QString& appid) {
    QString ids;
    if (!m_pool.run(tables::provisionedDeviceIds, {appid}, [&ids](const SqlRow& row) { ids = row.text(0); })
             .ok())
        return std::nullopt;
    return ids;
}

bool SqlDatabase::insertDeviceChallenge(const QString& challenge, const QString& appid, qint64 expiresAt,
                                        qint64 now) {
    ConnectionPool::Lease connection(m_pool);
    return connection.run(tables::dropDeviceChallenges, {now}).ok() &&
           connection.run(tables::insertDeviceChallenge, {challenge, appid, expiresAt}).ok();
}

std::optional<bool> SqlDatabase::takeDeviceChallenge(const QString& challenge, const QString& appid,
                                                     qint64 now) {
    const SqlOutcome r = m_pool.run(tables::takeDeviceChallenge, {challenge, appid, now});
    if (!r.ok())
        return std::nullopt;
    return r.changed > 0;
}

Database::Insert SqlDatabase::insertDeviceCheck(const StoredDeviceCheck& check, qint64 dropBefore) {
    ConnectionPool::Lease connection(m_pool);
    if (!connection.run(tables::dropDeviceChecks, {dropBefore}).ok())
        return Insert::Failed;
    return insertResult(connection.run(tables::insertDeviceCheck, tables::deviceCheckValues(check)));
}

std::optional<StoredDeviceCheck> SqlDatabase::deviceCheck(const QString& id) {
    return first(m_pool, tables::deviceCheck, id, &tables::readDeviceCheck);
}

std::optional<QList<StoredDeviceCheck>> SqlDatabase::deviceChecksOf(const QString& appid, qint64 since) {
    QList<StoredDeviceCheck> checks;
    if (!m_pool
             .run(tables::deviceChecksOf, {appid, since},
                  [&checks](const SqlRow& row) { checks.append(tables::readDeviceCheck(row)); })
             .ok())
        return std::nullopt;
    return checks;
}

std::optional<QString> SqlDatabase::latestKey(const QString& userid, const QString& bundleid,
                                              const QString& platform, const QString& proposedKey) {
    ConnectionPool::Lease connection(m_pool);
    if (!connection.run(tables::addLatestKey, {proposedKey, userid, bundleid, platform, now()}).ok())
        return std::nullopt;
    // The triple's key, ours or one stored before; none: proposedKey is another's (draw again).
    QString key;
    if (!connection
             .run(tables::latestKeyOf, {userid, bundleid, platform},
                  [&key](const SqlRow& row) { key = row.text(0); })
             .ok())
        return std::nullopt;
    return key;
}

std::optional<QList<StoredApp>> SqlDatabase::appsOfLatestKey(const QString& key, int limit) {
    QList<StoredApp> apps;
    if (!m_pool
             .run(tables::appsOfLatestKey, {key, qint64(limit)},
                  [&apps](const SqlRow& row) { apps.append(tables::readApp(row)); })
             .ok())
        return std::nullopt;
    return apps;
}

std::optional<bool> SqlDatabase::setAppDescription(const QString& appid, const QString& text) {
    ConnectionPool::Lease connection(m_pool);
    const SqlOutcome updated = connection.run(tables::setAppDescription, {text, appid});
    if (!updated.ok())
        return std::nullopt;
    if (updated.changed == 0)
        return false;
    if (!connection.run(tables::bumpAppEdits, {appid}).ok())
        return std::nullopt;
    return true;
}

std::optional<qint64> SqlDatabase::appListStamp(const QString& userid) {
    return number(m_pool, tables::appListStamp, {userid, userid});
}
