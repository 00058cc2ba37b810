#include "server/Limits.h"

#include "server/SharedState.h"

namespace {
constexpr qsizetype kPruneAbove = 65536;
}

std::optional<int> RateLimiter::take(const QString& key, Clock::time_point now) {
    if (m_limit <= 0)
        return std::nullopt;
    if (m_shared)
        return m_shared->takeRate(m_scope + QLatin1Char(' ') + key, m_limit, m_window);
    std::lock_guard lock(m_mutex);
    if (m_slots.size() > kPruneAbove)
        forgetExpired(now);
    Slot& slot = m_slots[key];
    if (slot.count == 0 || now - slot.start >= m_window) {
        slot.start = now;
        slot.count = 0;
    }
    if (slot.count >= m_limit) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(slot.start + m_window - now);
        return std::max(1, int(left.count()));
    }
    ++slot.count;
    return std::nullopt;
}

void RateLimiter::forgetExpired(Clock::time_point now) {
    for (auto it = m_slots.begin(); it != m_slots.end();)
        it = now - it->start >= m_window ? m_slots.erase(it) : std::next(it);
}

bool RepeatFilter::isRepeat(const QString& key, Clock::time_point now) {
    // A repeat is an event past a limit of one per window.
    if (m_shared)
        return m_shared->takeRate(m_scope + QLatin1Char(' ') + key, 1, m_window).has_value();
    std::lock_guard lock(m_mutex);
    if (m_counted.size() > kPruneAbove) {
        for (auto it = m_counted.begin(); it != m_counted.end();)
            it = now - *it >= m_window ? m_counted.erase(it) : std::next(it);
    }
    const auto it = m_counted.constFind(key);
    if (it != m_counted.constEnd() && now - *it < m_window)
        return true;
    m_counted.insert(key, now);
    return false;
}
