#include "server/UserSecrets.h"

#include "server/Database.h"

#include <QCryptographicHash>

UserSecrets::UserSecrets(Database& database, std::chrono::milliseconds life,
                         std::function<Clock::time_point()> now)
    : m_database(database), m_life(life), m_now(std::move(now)) {}

QString UserSecrets::hashOf(const QString& secret) {
    if (secret.isEmpty())
        return {};
    return QString::fromLatin1(QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool UserSecrets::constantTimeEquals(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

UserSecrets::Verdict UserSecrets::verify(const QString& userid, const QString& presentedSecret) {
    const QByteArray presented = hashOf(presentedSecret).toLatin1();
    {
        std::lock_guard lock(m_mutex);
        const auto known = m_known.constFind(userid);
        if (known != m_known.constEnd() && now() - known->readAt < m_life &&
            constantTimeEquals(presented, known->hash))
            return Verdict::Accepted;
    }
    const std::optional<StoredSecret> stored = m_database.secretOf(userid);
    if (!stored)
        return Verdict::Failed;
    if (!stored->registered || stored->hash.isEmpty()) {
        // Users without a secret are asked for every time: a registration elsewhere counts at once.
        std::lock_guard lock(m_mutex);
        m_known.remove(userid);
        return stored->registered ? Verdict::Accepted : Verdict::Unregistered;
    }
    const QByteArray hash = stored->hash.toLatin1();
    remember(userid, hash);
    return constantTimeEquals(presented, hash) ? Verdict::Accepted : Verdict::Refused;
}

void UserSecrets::issued(const QString& userid, const QString& secret) {
    remember(userid, hashOf(secret).toLatin1());
}

void UserSecrets::remember(const QString& userid, const QByteArray& hash) {
    std::lock_guard lock(m_mutex);
    if (m_known.size() >= kLimit)
        m_known.clear(); // a crude bound; the busy users come back at once
    m_known.insert(userid, Known{hash, now()});
}
