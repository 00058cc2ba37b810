#include "server/storage/s3/S3Workers.h"

S3Workers::S3Workers(size_t threads) {
    for (size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

S3Workers::~S3Workers() {
    close(std::chrono::milliseconds(0));
}

bool S3Workers::begin(const std::shared_ptr<Transfer>& transfer) {
    std::lock_guard lock(m_mutex);
    if (m_closing || m_queue.size() >= kMaxQueued)
        return false;
    m_transfers.emplace(transfer.get(), transfer);
    return true;
}

void S3Workers::ended(const Transfer* transfer) {
    std::lock_guard lock(m_mutex);
    m_transfers.erase(transfer);
    m_idle.notify_all();
}

bool S3Workers::post(std::function<void()> step) {
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return false;
    m_queue.push_back(std::move(step));
    m_work.notify_one();
    return true;
}

void S3Workers::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return !m_queue.empty() || m_closed; });
        if (m_queue.empty())
            return; // closed
        std::function<void()> step = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_running;
        lock.unlock();
        step();
        step = nullptr; // what it holds goes before the next is counted idle
        lock.lock();
        --m_running;
        m_idle.notify_all();
    }
}

void S3Workers::close(std::chrono::milliseconds grace) {
    std::vector<std::shared_ptr<Transfer>> left;
    {
        std::unique_lock lock(m_mutex);
        if (m_closed)
            return;
        m_idle.wait_for(lock, grace, [this] { return m_transfers.empty(); });
        m_closing = true;
        for (const auto& [key, weak] : m_transfers)
            if (std::shared_ptr<Transfer> transfer = weak.lock())
                left.push_back(std::move(transfer));
    }
    for (const std::shared_ptr<Transfer>& transfer : left)
        transfer->stop();
    left.clear();
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && m_running == 0; });
        m_closed = true;
        m_work.notify_all();
    }
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}
