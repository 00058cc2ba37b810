#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

class SharedState;

// Counts events per key (a client address, an address and an app) in fixed windows; safe to
// use from many threads. Keeps memory bounded by forgetting keys whose window has passed.
// Given shared state, the windows live there instead (under scope + key), so that instances
// behind one load balancer count together.
class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // limit 0: unlimited.
    RateLimiter(int limit, std::chrono::seconds window, SharedState* shared = nullptr, QString scope = {})
        : m_limit(limit), m_window(window), m_shared(shared), m_scope(std::move(scope)) {}

    // Counts one event; nothing when it is allowed, else the seconds until the key may try again.
    std::optional<int> take(const QString& key, Clock::time_point now = Clock::now());

private:
    struct Slot {
        Clock::time_point start;
        int count = 0;
    };
    void forgetExpired(Clock::time_point now);

    int m_limit;
    std::chrono::seconds m_window;
    SharedState* m_shared;
    QString m_scope;
    std::mutex m_mutex;
    QHash<QString, Slot> m_slots;
};

// Whether an event for a key was already seen in the last window (an install page opened
// again from the same address): the first one counts, the rest are repeats. Shared like RateLimiter.
class RepeatFilter {
public:
    using Clock = std::chrono::steady_clock;

    explicit RepeatFilter(std::chrono::seconds window, SharedState* shared = nullptr, QString scope = {})
        : m_window(window), m_shared(shared), m_scope(std::move(scope)) {}

    // True when the key was counted less than a window ago; otherwise counts it now.
    bool isRepeat(const QString& key, Clock::time_point now = Clock::now());

private:
    std::chrono::seconds m_window;
    SharedState* m_shared;
    QString m_scope;
    std::mutex m_mutex;
    QHash<QString, Clock::time_point> m_counted;
};
