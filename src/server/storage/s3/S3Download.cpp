#include "server/storage/s3/S3Download.h"

#include "core/Log.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Workers.h"

#include <QString>

#include <cstring>
#include <deque>
#include <mutex>

namespace {
constexpr size_t kAhead = 4 << 20; // bytes waiting for the client at most
constexpr size_t kRange = 2 << 20; // bytes asked for in one GET
} // namespace

struct S3Download::State : S3Workers::Transfer, std::enable_shared_from_this<State> {
    const S3Client& client;
    S3Workers& workers;
    const std::string key;
    const std::string etag;

    std::mutex mutex;
    std::deque<std::string> pieces;
    size_t frontOffset = 0; // bytes of pieces.front() already handed out
    size_t buffered = 0;
    uint64_t next; // the next byte to ask for
    uint64_t left; // bytes not asked for yet
    bool fetching = false;
    bool ended = false; // nothing more will arrive
    bool failed = false;
    bool cancelled = false; // the connection went away, or the store closes
    std::function<void()> resume;

    State(const S3Client& c, S3Workers& w, std::string k, std::string e, uint64_t offset, uint64_t length)
        : client(c), workers(w), key(std::move(k)), etag(std::move(e)), next(offset), left(length) {}

    void stop() override {
        std::unique_lock lock(mutex);
        cancelled = true;
        end(lock, true);
    }

    // Called with the lock held.
    void end(std::unique_lock<std::mutex>& lock, bool withFailure) {
        if (ended)
            return;
        ended = true;
        failed = withFailure;
        if (!fetching)
            workers.ended(this);
        wakeReader(lock);
    }

    void wakeReader(std::unique_lock<std::mutex>& lock) {
        std::function<void()> go = std::exchange(resume, nullptr);
        lock.unlock();
        if (go)
            go();
        lock.lock();
    }

    // Asks for the next range once there is room for it (called with the lock held).
    void pump(std::unique_lock<std::mutex>& lock) {
        if (fetching || ended || left == 0 || buffered + kRange > kAhead)
            return;
        fetching = true;
        if (!workers.post([self = shared_from_this()] { self->fetch(); })) {
            fetching = false;
            end(lock, true);
        }
    }

    void fetch() {
        S3Client::Request request;
        request.key = key;
        const uint64_t first = next;
        const uint64_t count = std::min<uint64_t>(left, kRange);
        request.headers.push_back("Range: bytes=" + std::to_string(first) + '-' +
                                  std::to_string(first + count - 1));
        if (!etag.empty())
            request.headers.push_back("If-Match: " + etag);
        request.cancelled = [this] {
            std::lock_guard lock(mutex);
            return cancelled || workers.closing();
        };
        uint64_t received = 0;
        request.sink = [&](const char* data, size_t n) {
            std::unique_lock lock(mutex);
            if (cancelled || received + n > count)
                return false;
            received += n;
            pieces.emplace_back(data, n);
            buffered += n;
            wakeReader(lock);
            return true;
        };
        const S3Client::Response response = client.perform(request);
        std::unique_lock lock(mutex);
        fetching = false;
        if (ended) { // stopped meanwhile
            workers.ended(this);
            return;
        }
        if (!response.ok() || received != count) {
            if (!cancelled)
                logLine(QStringLiteral("storage: reading %1 failed: %2")
                            .arg(QString::fromStdString(key), QString::fromStdString(response.describe())));
            return end(lock, true);
        }
        next += count;
        left -= count;
        if (left == 0)
            return end(lock, false);
        wakeReader(lock);
        pump(lock);
    }
};

S3Download::S3Download(const S3Client& client, S3Workers& workers, std::string key, std::string etag,
                       uint64_t offset, uint64_t length)
    : m_state(std::make_shared<State>(client, workers, std::move(key), std::move(etag), offset, length)),
      m_length(length) {
    std::unique_lock lock(m_state->mutex);
    if (!workers.begin(m_state)) {
        m_state->ended = m_state->failed = true;
        return;
    }
    m_state->pump(lock);
}

S3Download::~S3Download() {
    std::unique_lock lock(m_state->mutex);
    m_state->resume = nullptr;
    m_state->cancelled = true;
    m_state->end(lock, true);
}

bool S3Download::ready(std::function<void()> resume) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->pieces.empty() || m_state->ended)
        return true;
    m_state->resume = std::move(resume);
    return false;
}

int64_t S3Download::read(char* buffer, size_t capacity) {
    std::unique_lock lock(m_state->mutex);
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
    m_state->pump(lock);
    // Nothing left: the object ended early or could not be read.
    return copied > 0 ? int64_t(copied) : -1;
}
