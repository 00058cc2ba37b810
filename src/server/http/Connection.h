#pragma once

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace transport {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

constexpr uint32_t kHeaderLimit = 16 * 1024;
// Bodies move in large pieces: an upload or download of a gigabyte is a few thousand steps.
constexpr size_t kStreamPiece = 1 << 20;
constexpr size_t kMemoryPiece = 16 * 1024;

// One accepted socket, plain or TLS, with its read buffer and the timed waits its steps share.
// Every step of a connection runs on its strand, so nothing here needs a lock.
template <class Stream> class Connection {
public:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

    template <class... Args>
    explicit Connection(Args&&... args)
        : m_stream(std::forward<Args>(args)...),
          m_waitTimer(beast::get_lowest_layer(m_stream).get_executor()) {}

    Stream& stream() { return m_stream; }
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(m_stream); }
    // Bounded for headers by the parser's own limit; body bytes that came with the header wait here.
    beast::flat_buffer& buffer() { return m_buffer; }
    void expiresAfter(std::chrono::milliseconds timeout) { lowest().expires_after(timeout); }

    // Runs step on this connection's strand; keep holds the connection until then.
    template <class Step> void post(std::shared_ptr<void> keep, Step step) {
        net::post(m_stream.get_executor(),
                  [keep = std::move(keep), step = std::move(step)]() mutable { step(); });
    }
    // A step to call once, from any thread, when a reader or body source that waited for another
    // server can go on.
    template <class Step> std::function<void()> resumer(std::shared_ptr<void> keep, Step step) {
        return [this, keep = std::move(keep), step = std::move(step)] { post(keep, step); };
    }

    // Waits until the socket is readable or writable, for at most timeout (the client stalled);
    // then next(ok).
    template <class Next>
    void waitFor(tcp::socket::wait_type what, std::chrono::milliseconds timeout, std::shared_ptr<void> keep,
                 Next next) {
        const uint64_t turn = ++m_waitTurn;
        m_waitTimer.expires_after(timeout);
        m_waitTimer.async_wait([this, keep, turn](beast::error_code ec) {
            if (!ec && m_waitTurn == turn) {
                beast::error_code ignored;
                lowest().socket().cancel(ignored);
            }
        });
        lowest().socket().async_wait(
            what, [this, keep = std::move(keep), next = std::move(next)](beast::error_code ec) mutable {
                ++m_waitTurn;
                m_waitTimer.cancel();
                next(!ec);
            });
    }

    // For the kernel copies: the socket's descriptor in non-blocking mode, or -1.
    int nonBlockingHandle() {
        beast::error_code ec;
        lowest().socket().native_non_blocking(true, ec);
        return ec ? -1 : lowest().socket().native_handle();
    }

    void close() {
        beast::error_code ignored;
        lowest().socket().close(ignored);
    }

private:
    Stream m_stream;
    beast::flat_buffer m_buffer{kHeaderLimit + kMemoryPiece};
    net::steady_timer m_waitTimer;
    uint64_t m_waitTurn = 0;
};

} // namespace transport
