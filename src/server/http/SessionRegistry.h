#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Every open connection: admitted by count in total and per client address, counted while a
// request is in flight, and closed together when the server stops.
class SessionRegistry {
public:
    // A connection as the registry sees it.
    class Closable {
    public:
        virtual ~Closable() = default;
        // Closes the connection from any thread (its own steps run where they always do).
        virtual void close() = 0;
    };

    SessionRegistry(int maxTotal, int maxPerAddress) : m_maxTotal(maxTotal), m_maxPerAddress(maxPerAddress) {}

    // False when the address (or the server) has no room for another connection; an address
    // not capped (a trusted proxy's) is bound by the total alone.
    bool admit(const std::string& address, bool capped = true);
    void add(const std::shared_ptr<Closable>& session);
    // From the session's destructor; address as admitted.
    void remove(const Closable* session, const std::string& address);

    int openCount() {
        std::lock_guard lock(m_mutex);
        return m_total;
    }
    void requestStarted() { ++m_inFlight; }
    void requestEnded();
    // Waits until no request is in flight, or until the deadline; true when none is.
    bool waitIdle(std::chrono::steady_clock::time_point deadline);
    void closeAll();

private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::atomic<int> m_inFlight{0};
    int m_total = 0;
    std::unordered_map<std::string, int> m_perAddress;
    std::unordered_map<const Closable*, std::weak_ptr<Closable>> m_sessions;
    int m_maxTotal;
    int m_maxPerAddress;
};
