#include "WanLink.h"
#include "LoopbackSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// One direction's capacity, shared by every connection: bytes cross one after another at the
// rate, whoever sends them.
class Capacity {
public:
    explicit Capacity(double bytesPerSecond) : m_rate(bytesPerSecond) {}
    // When `bytes` handed over now have crossed.
    Clock::time_point take(std::size_t bytes) {
        if (m_rate <= 0)
            return Clock::now();
        const auto cost = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(bytes) / m_rate));
        std::lock_guard lock(m_mutex);
        m_free = std::max(m_free, Clock::now()) + cost;
        return m_free;
    }

private:
    double m_rate;
    std::mutex m_mutex;
    Clock::time_point m_free{};
};

struct Connection {
    int client = -1;
    int server = -1;
    std::atomic<bool> broken{false};
    std::mutex mutex; // guards both directions' queues
    std::condition_variable changed;

    // A failure on either side ends both: the peers see the connection reset.
    void breakAll() {
        if (broken.exchange(true))
            return;
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        std::lock_guard lock(mutex);
        changed.notify_all();
    }
    ~Connection() {
        if (broken) {
            const linger reset{1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::setsockopt(server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(client);
        ::close(server);
    }
};

// One direction of one connection: read, cross the link, wait out the delay, write.
class Pipe {
public:
    Pipe(Connection& c, int from, int to, Capacity& capacity, Clock::duration delay,
         Clock::time_point notBefore, std::size_t limit)
        : m_c(c), m_from(from), m_to(to), m_capacity(capacity), m_delay(delay), m_notBefore(notBefore),
          m_limit(limit) {}

    void read() {
        std::vector<char> buffer(128 * 1024);
        for (;;) {
            const ssize_t n = ::recv(m_from, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                m_c.breakAll();
                return;
            }
            const Clock::time_point crossed = m_capacity.take(std::size_t(n));
            std::this_thread::sleep_until(crossed);
            std::unique_lock lock(m_c.mutex);
            m_c.changed.wait(lock, [&] { return m_queued < m_limit || m_c.broken; });
            if (m_c.broken)
                return;
            m_queue.push_back({std::vector<char>(buffer.data(), buffer.data() + n),
                               std::max(crossed, m_notBefore) + m_delay});
            m_queued += std::size_t(n);
            m_c.changed.notify_all();
            if (n == 0)
                return; // the end travels as an empty chunk
        }
    }

    void write() {
        for (;;) {
            std::unique_lock lock(m_c.mutex);
            m_c.changed.wait(lock, [&] { return !m_queue.empty() || m_c.broken; });
            if (m_c.broken)
                return;
            Chunk chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued -= chunk.bytes.size();
            m_c.changed.notify_all();
            lock.unlock();
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty()) {
                ::shutdown(m_to, SHUT_WR);
                return;
            }
            for (std::size_t done = 0; done < chunk.bytes.size();) {
                const ssize_t n =
                    ::send(m_to, chunk.bytes.data() + done, chunk.bytes.size() - done, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    m_c.breakAll();
                    return;
                }
                done += std::size_t(n);
            }
        }
    }

private:
    struct Chunk {
        std::vector<char> bytes; // empty: the sender closed its side
        Clock::time_point due;
    };
    Connection& m_c;
    int m_from;
    int m_to;
    Capacity& m_capacity;
    Clock::duration m_delay;
    Clock::time_point m_notBefore;
    std::size_t m_limit;
    std::deque<Chunk> m_queue;
    std::size_t m_queued = 0;
};
} // namespace

struct WanLink::State : std::enable_shared_from_this<WanLink::State> {
    Settings settings;
    Capacity up;
    Capacity down;
    std::mutex mutex;
    std::condition_variable idle;
    std::list<std::weak_ptr<Connection>> connections;
    int running = 0; // connection threads
    std::vector<int> listeners;
    std::vector<std::thread> acceptors;
    bool stopping = false;

    explicit State(Settings s) : settings(s), up(s.bytesPerSecond), down(s.bytesPerSecond) {}

    void carry(int client, std::uint16_t targetPort) {
        const int server = loopbackSocket(targetPort, false);
        if (server < 0) {
            ::close(client);
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_shared<Connection>();
        c->client = client;
        c->server = server;
        const auto roundTrip = std::chrono::milliseconds(settings.roundTripMs);
        const auto oneWay = std::chrono::duration_cast<Clock::duration>(roundTrip) / 2;
        // What may wait in the link: twice the bytes in flight, at least a few MiB.
        const std::size_t limit = std::max<std::size_t>(
            std::size_t(4) << 20, std::size_t(settings.bytesPerSecond * settings.roundTripMs / 1000.0 * 2));
        // The handshake costs a round trip before the first byte may leave.
        auto upPipe = std::make_shared<Pipe>(*c, client, server, up, oneWay, Clock::now() + roundTrip, limit);
        auto downPipe = std::make_shared<Pipe>(*c, server, client, down, oneWay, Clock::time_point{}, limit);
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                c->breakAll();
                return;
            }
            connections.remove_if([](const std::weak_ptr<Connection>& w) { return w.expired(); });
            connections.push_back(c);
            running += 4;
        }
        auto self = shared_from_this();
        const auto run = [self, c](std::shared_ptr<Pipe> pipe, bool reader) {
            std::thread([self, c, pipe, reader] {
                if (reader)
                    pipe->read();
                else
                    pipe->write();
                std::lock_guard lock(self->mutex);
                if (--self->running == 0)
                    self->idle.notify_all();
            }).detach();
        };
        run(upPipe, true);
        run(upPipe, false);
        run(downPipe, true);
        run(downPipe, false);
    }
};

WanLink::WanLink(Settings settings) : d(std::make_shared<State>(settings)) {}

WanLink::~WanLink() {
    stop();
}

std::uint16_t WanLink::forward(std::uint16_t targetPort) {
    const int fd = loopbackSocket(0, true);
    if (fd < 0)
        return 0;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    std::lock_guard lock(d->mutex);
    d->listeners.push_back(fd);
    d->acceptors.emplace_back([state = d, fd, targetPort] {
        for (;;) {
            const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return; // the listener was shut down
            }
            state->carry(client, targetPort);
        }
    });
    return ntohs(bound.sin_port);
}

void WanLink::stop() {
    std::vector<std::thread> acceptors;
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
        for (int fd : d->listeners)
            ::shutdown(fd, SHUT_RDWR);
        acceptors.swap(d->acceptors);
    }
    for (std::thread& t : acceptors)
        t.join();
    std::unique_lock lock(d->mutex);
    for (int fd : d->listeners)
        ::close(fd);
    d->listeners.clear();
    for (const auto& weak : d->connections) {
        if (auto c = weak.lock()) {
            lock.unlock();
            c->breakAll();
            lock.lock();
        }
    }
    d->connections.clear();
    d->idle.wait(lock, [&] { return d->running == 0; });
}
