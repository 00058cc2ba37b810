#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// The threads that move uploads and downloads between the clients and the bucket. Each transfer
// runs on a detached thread of its own (its requests block); the store waits for all of them
// before the server goes away, so none calls back into a closed connection.
class S3Workers {
public:
    template <class Work> void start(Work work) {
        {
            std::lock_guard lock(m_mutex);
            ++m_live;
        }
        std::thread([this, work = std::move(work)]() mutable {
            work();
            std::lock_guard lock(m_mutex);
            if (--m_live == 0)
                m_idle.notify_all();
        }).detach();
    }

    // True once the store closes: transfers in progress stop.
    bool closing() const { return m_closing; }

    // Lets the transfers in progress finish for up to grace, then stops the rest and waits.
    void close(std::chrono::milliseconds grace) {
        std::unique_lock lock(m_mutex);
        m_idle.wait_for(lock, grace, [this] { return m_live == 0; });
        m_closing = true;
        m_idle.wait(lock, [this] { return m_live == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_live = 0;
    std::atomic<bool> m_closing{false};
};
