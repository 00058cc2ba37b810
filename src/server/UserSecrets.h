#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>

class Database;

// Checks the secret a request presents for a user id against the hash the database keeps. Hashes
// read are trusted for a short while, so busy users cost no query per request; an operator's
// reset (through any instance, or none) therefore takes effect within that while. A secret that
// does not match what is remembered is checked against the database again before it is refused,
// so one newly issued through another instance works at once.
class UserSecrets {
public:
    using Clock = std::chrono::steady_clock;

    enum class Verdict {
        Accepted,     // the secret is the user's, or the user has none (taken on trust)
        Refused,      // the user has another secret
        Unregistered, // the id never registered: nothing to prove, nothing to trust
        Failed        // the database failed
    };

    // now: the clock the remembered hashes age by (empty: the steady clock).
    UserSecrets(Database& database, std::chrono::milliseconds life,
                std::function<Clock::time_point()> now = {});

    Verdict verify(const QString& userid, const QString& presentedSecret);
    // The user was just given this secret here: remember it at once.
    void issued(const QString& userid, const QString& secret);

    // Secrets are kept only as hashes: a copied database does not hand out logins. Empty for "".
    static QString hashOf(const QString& secret);
    static bool constantTimeEquals(const QByteArray& a, const QByteArray& b);

private:
    struct Known {
        QByteArray hash;
        Clock::time_point readAt;
    };
    Clock::time_point now() const { return m_now ? m_now() : Clock::now(); }
    void remember(const QString& userid, const QByteArray& hash);

    static constexpr qsizetype kLimit = 100000;
    Database& m_database;
    std::chrono::milliseconds m_life;
    std::function<Clock::time_point()> m_now;
    std::mutex m_mutex;
    QHash<QString, Known> m_known;
};
