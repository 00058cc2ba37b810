#include "server/http/SessionRegistry.h"

#include <vector>

bool SessionRegistry::admit(const std::string& address, bool capped) {
    std::lock_guard lock(m_mutex);
    int& mine = m_perAddress[address];
    if (m_total >= m_maxTotal || (capped && mine >= m_maxPerAddress)) {
        if (mine == 0)
            m_perAddress.erase(address);
        return false;
    }
    ++mine;
    ++m_total;
    return true;
}

void SessionRegistry::add(const std::shared_ptr<Closable>& session) {
    std::lock_guard lock(m_mutex);
    m_sessions.emplace(session.get(), session);
}

void SessionRegistry::remove(const Closable* session, const std::string& address) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(session);
    --m_total;
    if (--m_perAddress[address] <= 0)
        m_perAddress.erase(address);
}

void SessionRegistry::requestEnded() {
    if (--m_inFlight == 0) {
        // Under the lock, so a waiter between its check and its wait cannot miss this.
        std::lock_guard lock(m_mutex);
        m_idle.notify_all();
    }
}

bool SessionRegistry::waitIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_until(lock, deadline, [this] { return m_inFlight.load() == 0; });
}

void SessionRegistry::closeAll() {
    std::vector<std::shared_ptr<Closable>> open;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [key, weak] : m_sessions)
            if (std::shared_ptr<Closable> session = weak.lock())
                open.push_back(std::move(session));
    }
    // Outside the lock: a session released here unregisters itself.
    for (const std::shared_ptr<Closable>& session : open)
        session->close();
}
