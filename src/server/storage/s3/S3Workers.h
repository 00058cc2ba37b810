#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// The few threads that move uploads and downloads between the clients and the bucket. A
// transfer runs as short steps, one at a time (send a part, fetch a range), and holds no thread
// while it waits for its client, so a handful of threads serve any number of transfers. Each
// transfer has at most one step queued; past kMaxQueued steps in all (the bucket far slower than
// the load), a new transfer is refused rather than queued without end.
class S3Workers {
public:
    static constexpr size_t kThreads = 4;
    static constexpr size_t kMaxQueued = 1024;

    // An upload or download in progress.
    class Transfer {
    public:
        virtual ~Transfer() = default;
        // The store closes: end what is in progress (abort an upload); called once.
        virtual void stop() = 0;
    };

    explicit S3Workers(size_t threads = kThreads);
    ~S3Workers();
    S3Workers(const S3Workers&) = delete;
    S3Workers& operator=(const S3Workers&) = delete;

    // A new transfer, until ended(); false when the queue is full or the store closed.
    bool begin(const std::shared_ptr<Transfer>& transfer);
    void ended(const Transfer* transfer);
    // Queues a step of a transfer that began; false only once the store has closed.
    bool post(std::function<void()> step);

    // True once the store closes: steps in progress stop.
    bool closing() const { return m_closing; }
    // Lets the transfers in progress end for up to grace, then stops the rest and waits for
    // their last steps (an upload's abort).
    void close(std::chrono::milliseconds grace);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    std::unordered_map<const Transfer*, std::weak_ptr<Transfer>> m_transfers;
    size_t m_running = 0;
    bool m_closed = false;
    std::atomic<bool> m_closing{false};
    std::vector<std::thread> m_threads;
};
