#include "server/storage/s3/S3Download.h"

#include "core/Log.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Workers.h"

#include <QString>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace {
constexpr size_t kAhead = 4 << 20; // bytes fetched ahead of the client at most
}

struct S3Download::State {
    std::mutex mutex;
    std::condition_variable space;
    std::deque<std::string> pieces;
    size_t frontOffset = 0; // bytes of pieces.front() already handed out
    size_t buffered = 0;
    bool ended = false;
    bool failed = false;
    bool cancelled = false; // the connection went away
    std::function<void()> resume;

    void wakeReader(std::unique_lock<std::mutex>& lock) {
        std::function<void()> go = std::exchange(resume, nullptr);
        lock.unlock();
        if (go)
            go();
        lock.lock();
    }
};

S3Download::S3Download(const S3Client& client, S3Workers& workers, std::string key, std::string etag,
                       uint64_t offset, uint64_t length)
    : m_state(std::make_shared<State>()), m_length(length) {
    workers.start(
        [state = m_state, &client, &workers, key = std::move(key), etag = std::move(etag), offset, length] {
            S3Client::Request request;
            request.key = key;
            request.headers.push_back("Range: bytes=" + std::to_string(offset) + '-' +
                                      std::to_string(offset + length - 1));
            if (!etag.empty())
                request.headers.push_back("If-Match: " + etag);
            request.cancelled = [&workers, state] {
                std::lock_guard lock(state->mutex);
                return state->cancelled || workers.closing();
            };
            uint64_t received = 0;
            request.sink = [&](const char* data, size_t n) {
                std::unique_lock lock(state->mutex);
                while (state->buffered >= kAhead && !state->cancelled && !workers.closing())
                    state->space.wait_for(lock, std::chrono::milliseconds(200));
                if (state->cancelled || workers.closing() || received + n > length)
                    return false;
                received += n;
                state->pieces.emplace_back(data, n);
                state->buffered += n;
                state->wakeReader(lock);
                return true;
            };
            const S3Client::Response response = client.perform(request);
            std::unique_lock lock(state->mutex);
            state->ended = true;
            state->failed = !response.ok() || received != length;
            if (state->failed && !state->cancelled)
                logLine(QStringLiteral("storage: reading %1 failed: %2")
                            .arg(QString::fromStdString(key), QString::fromStdString(response.describe())));
            state->wakeReader(lock);
        });
}

S3Download::~S3Download() {
    std::lock_guard lock(m_state->mutex);
    m_state->cancelled = true;
    m_state->resume = nullptr;
    m_state->space.notify_all();
}

bool S3Download::ready(std::function<void()> resume) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->pieces.empty() || m_state->ended)
        return true;
    m_state->resume = std::move(resume);
    return false;
}

int64_t S3Download::read(char* buffer, size_t capacity) {
    std::lock_guard lock(m_state->mutex);
    size_t copied = 0;
    while (copied < capacity && !m_state->pieces.empty()) {
        const std::string& front = m_state->pieces.front();
        const size_t n = std::min(capacity - copied, front.size() - m_state->frontOffset);
        std::memcpy(buffer + copied, front.data() + m_state->frontOffset, n);
        copied += n;
        m_state->frontOffset += n;
        if (m_state->frontOffset == front.size()) {
            m_state->buffered -= front.size();
            m_state->pieces.pop_front();
            m_state->frontOffset = 0;
        }
    }
    m_state->space.notify_all();
    // Nothing left: the object ended early or could not be read.
    return copied > 0 ? int64_t(copied) : -1;
}
