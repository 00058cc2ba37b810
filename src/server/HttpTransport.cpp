#include "server/HttpTransport.h"

#include "core/Log.h"
#include "server/KernelCopy.h"
#include "server/Router.h"

#include <QUrl>
#include <QUrlQuery>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/ssl.hpp>

#include <malloc.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;
// Bodies move in large pieces: an upload or download of a gigabyte is a few thousand steps.
constexpr size_t kStreamPiece = 1 << 20;
constexpr size_t kMemoryPiece = 16 * 1024;
constexpr size_t kDrainPiece = 4096;
constexpr uint32_t kHeaderLimit = 16 * 1024;

QString statusText(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("Bad request");
    case 413:
        return QStringLiteral("Request body too large");
    case 431:
        return QStringLiteral("Request headers too large");
    case 503:
        return QStringLiteral("The server is busy; try again shortly");
    case 500:
        return QStringLiteral("Internal error");
    default:
        return QStringLiteral("Request failed");
    }
}

// Open connections in total and per client address.
class ConnectionCount {
public:
    ConnectionCount(int maxTotal, int maxPerAddress) : m_maxTotal(maxTotal), m_maxPerAddress(maxPerAddress) {}
    bool admit(const std::string& address) {
        std::lock_guard lock(m_mutex);
        int& mine = m_perAddress[address];
        if (m_total >= m_maxTotal || mine >= m_maxPerAddress) {
            if (mine == 0)
                m_perAddress.erase(address);
            return false;
        }
        ++mine;
        ++m_total;
        return true;
    }
    void release(const std::string& address) {
        std::lock_guard lock(m_mutex);
        --m_total;
        if (--m_perAddress[address] <= 0)
            m_perAddress.erase(address);
    }

private:
    std::mutex m_mutex;
    int m_total = 0;
    std::unordered_map<std::string, int> m_perAddress;
    int m_maxTotal;
    int m_maxPerAddress;
};

struct Shared {
    const Router& router;
    HttpTransport::Options options;
    ConnectionCount connections;
    std::atomic<int> busy{0}; // requests between their headers and the end of their answer
    std::atomic<bool> stopping{false};
    // Bytes of request bodies held in memory by all connections together, and what was given
    // back since the allocator was last asked to return memory to the system.
    std::atomic<uint64_t> bufferedBodies{0};
    std::atomic<uint64_t> freedSinceTrim{0};

    bool reserveBody(uint64_t bytes) {
        uint64_t held = bufferedBodies.load();
        do {
            if (held + bytes > options.maxBufferedBodyBytes)
                return false;
        } while (!bufferedBodies.compare_exchange_weak(held, held + bytes));
        return true;
    }
    void releaseBody(uint64_t bytes) {
        bufferedBodies -= bytes;
        freedSinceTrim += bytes;
    }
};

bool isProtocolError(const beast::error_code& ec) {
    return &ec.category() == &http::make_error_code(http::error::bad_version).category();
}

template <class Stream> class Session : public std::enable_shared_from_this<Session<Stream>> {
public:
    template <class... Args>
    Session(Shared& shared, std::string peer, Args&&... args)
        : m_shared(shared), m_peer(std::move(peer)), m_stream(std::forward<Args>(args)...) {}

    ~Session() {
        setBusy(false);
        releaseBody();
        m_shared.freedSinceTrim += kSessionFootprint;
        m_reader.reset(); // an upload cut off by the client: its reader drops the partial file
        m_shared.connections.release(m_peer);
    }

    void start() {
        if constexpr (kTls) {
            lowest().expires_after(m_shared.options.headerTimeout);
            m_stream.async_handshake(ssl::stream_base::server,
                                     [self = this->shared_from_this()](beast::error_code ec) {
                                         if (ec)
                                             return self->drop();
                                         self->readRequest();
                                     });
        } else {
            readRequest();
        }
    }

private:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
    // Roughly what a connection's own buffers take, for deciding when to give memory back.
    static constexpr uint64_t kSessionFootprint = kTls ? 48 * 1024 : 16 * 1024;

    bool reserveBody(uint64_t bytes) {
        if (!m_shared.reserveBody(bytes))
            return false;
        m_reservedBody += bytes;
        return true;
    }
    void releaseBody() {
        if (m_reservedBody > 0)
            m_shared.releaseBody(std::exchange(m_reservedBody, 0));
    }

    beast::tcp_stream& lowest() { return beast::get_lowest_layer(m_stream); }

    void setBusy(bool busy) {
        if (busy != m_busy)
            m_shared.busy += busy ? 1 : -1;
        m_busy = busy;
    }

    // Waits for the first byte of the next request under the idle time-out, then for the whole
    // header under the header time-out: a client that trickles its header is cut off in time.
    void readRequest() {
        if (m_shared.stopping)
            return finish();
        if (m_buffer.size() > 0)
            return readHeader();
        lowest().expires_after(m_shared.options.idleTimeout);
        m_stream.async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t n) {
                                     if (ec)
                                         return self->drop();
                                     self->m_buffer.commit(n);
                                     self->readHeader();
                                 });
    }

    void readHeader() {
        m_parser.emplace();
        m_parser->header_limit(kHeaderLimit);
        m_parser->body_limit(std::numeric_limits<uint64_t>::max()); // limits are ours, per route
        lowest().expires_after(m_shared.options.headerTimeout);
        http::async_read_header(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
    }

    void onHeader(beast::error_code ec) {
        m_start = Clock::now();
        if (ec) {
            if (!isProtocolError(ec))
                return drop();
            m_request = ApiRequest{};
            m_request.method = m_request.path = QStringLiteral("-");
            return refuse(ec == http::error::header_limit ? 431 : 400);
        }
        setBusy(true);
        const auto& head = m_parser->get();
        // Framing that two parsers could read differently (a proxy in front, and this server) is
        // refused: repeated lengths, and a transfer coding that does not end in chunked.
        const auto lengths = head.equal_range(http::field::content_length);
        const bool codedNotChunked = head.count(http::field::transfer_encoding) > 0 && !m_parser->chunked();
        // Two Host headers leave the target ambiguous (RFC 9112, 3.2).
        if ((lengths.first != lengths.second && std::next(lengths.first) != lengths.second) ||
            codedNotChunked || head.count(http::field::host) > 1) {
            m_request = ApiRequest{};
            m_request.method = m_request.path = QStringLiteral("-");
            return refuse(400);
        }
        m_request = ApiRequest{};
        m_request.method =
            QString::fromLatin1(head.method_string().data(), qsizetype(head.method_string().size()));
        const std::string_view target(head.target().data(), head.target().size());
        const size_t question = target.find('?');
        const std::string_view rawPath = target.substr(0, question);
        m_request.path = QUrl::fromPercentEncoding(QByteArray(rawPath.data(), qsizetype(rawPath.size())));
        if (question != std::string_view::npos) {
            const std::string_view rawQuery = target.substr(question + 1);
            const QUrlQuery query(QString::fromUtf8(rawQuery.data(), qsizetype(rawQuery.size())));
            for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
                m_request.query.insert(key, value);
        }
        for (const auto& field : head) {
            const QString name =
                QString::fromLatin1(field.name_string().data(), qsizetype(field.name_string().size()))
                    .toLower();
            if (!m_request.headers.contains(name))
                m_request.headers.insert(
                    name, QString::fromUtf8(field.value().data(), qsizetype(field.value().size())));
        }
        m_request.peer = QString::fromStdString(m_peer);
        m_head = head.method() == http::verb::head;
        m_keepAlive = head.keep_alive();
        m_body.clear();
        m_raw = false;

        // Everything that can be decided from the header is decided before any of the body is
        // read, so a caller that will be turned away never makes the server hold its body.
        m_match = m_shared.router.match(m_request.method, m_request.path);
        if (m_match.kind == Router::Match::WrongMethod)
            return respond(ApiResponse::failure(405, QStringLiteral("Method not allowed")));
        if (m_match.kind == Router::Match::NotFound)
            return respond(ApiResponse::failure(404, QStringLiteral("Not found")));
        m_request.params = m_match.params;
        if (m_match.admit) {
            std::optional<ApiResponse> refusal;
            try {
                refusal = (*m_match.admit)(m_request);
            } catch (...) {
                return refuse(500);
            }
            if (refusal)
                return respond(std::move(*refusal));
        }
        const auto length = m_parser->content_length();
        const uint64_t limit =
            m_match.maxBodyBytes > 0 ? m_match.maxBodyBytes : m_shared.options.maxBodyBytes;
        if (length && *length > limit)
            return refuse(413);
        if (m_match.streaming) {
            ApiResponse refusal;
            try {
                refusal = (*m_match.streaming)(m_request, &m_reader);
            } catch (...) {
                return refuse(500);
            }
            if (!m_reader)
                return respond(std::move(refusal));
        } else if (length && *length > 0 && !reserveBody(*length)) {
            return refuse(503); // the bodies in memory have reached their bound
        }
        if (m_parser->is_done())
            return bodyDone();
        if (beast::iequals(head[http::field::expect], "100-continue")) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            lowest().expires_after(m_shared.options.bodyTimeout);
            return net::async_write(m_stream, net::buffer(kContinue),
                                    [self = this->shared_from_this()](beast::error_code e, size_t) {
                                        if (e)
                                            return self->drop();
                                        self->readBody();
                                    });
        }
        readBody();
    }

    void readBody() {
        // A streamed body of known length skips the parser: it is read straight into the large
        // piece, without copying every 64 KiB through the parser's buffer.
        if (m_reader && !m_parser->chunked() && m_parser->content_length()) {
            m_rawLeft = *m_parser->content_length();
            m_raw = true;
            const size_t early = size_t(std::min<uint64_t>(m_rawLeft, m_buffer.size()));
            if (early > 0) {
                const auto* bytes = static_cast<const char*>(m_buffer.data().data());
                const bool accepted = m_reader->write(bytes, early);
                m_buffer.consume(early);
                m_rawLeft -= early;
                if (!accepted)
                    return readerStopped();
            }
            if constexpr (!kTls) {
                // Without a pipe the body takes the usual path; the target has written all it held.
                if (m_rawLeft > 0 && (m_spliceTarget = m_reader->spliceTarget(m_rawLeft)) >= 0 &&
                    m_pipe.open())
                    return spliceBody();
            }
            m_piece.resize(kStreamPiece);
            m_pieceFill = 0;
            return readRaw();
        }
        if (!m_reader && !m_parser->chunked() && m_parser->content_length())
            return startMemoryBody(*m_parser->content_length());
        if (m_reader && !m_reader->ready(resumeWith(&Session::readBody)))
            return;
        m_piece.resize(m_reader ? kStreamPiece : kMemoryPiece);
        auto& body = m_parser->get().body();
        body.data = m_piece.data();
        body.size = m_piece.size();
        lowest().expires_after(m_shared.options.bodyTimeout);
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](beast::error_code ec, size_t) { self->onBodyPiece(ec); });
    }

    // A body of known length for a handler is read straight into its own bytes (reserved for it
    // at the header), so a client that stalls holds no buffer beyond what it sent.
    void startMemoryBody(uint64_t length) {
        m_rawLeft = length;
        m_raw = true;
        m_body.resize(qsizetype(length));
        m_bodyFill = size_t(std::min<uint64_t>(length, m_buffer.size()));
        std::memcpy(m_body.data(), m_buffer.data().data(), m_bodyFill);
        m_buffer.consume(m_bodyFill);
        m_rawLeft -= m_bodyFill;
        readMemoryBody();
    }

    void readMemoryBody() {
        if (m_rawLeft == 0)
            return bodyDone();
        lowest().expires_after(m_shared.options.bodyTimeout);
        m_stream.async_read_some(net::buffer(m_body.data() + m_bodyFill, size_t(m_rawLeft)),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t n) {
                                     if (ec)
                                         return self->drop();
                                     self->m_rawLeft -= n;
                                     self->m_bodyFill += n;
                                     self->readMemoryBody();
                                 });
    }

    // A body bound for a plain file goes from the socket through a pipe into the file with
    // splice(), so its bytes never pass through our memory. Waits for more under the body time-out.
    void spliceBody() {
        auto& socket = lowest().socket();
        beast::error_code ec;
        socket.native_non_blocking(true, ec);
        uint64_t moved = 0;
        const KernelCopy::Step step =
            ec ? KernelCopy::Step::Failed
               : m_pipe.receive(socket.native_handle(), m_spliceTarget, &m_rawLeft, &moved);
        if (!m_reader->spliced(size_t(moved), step != KernelCopy::Step::FileFailed))
            return readerStopped();
        switch (step) {
        case KernelCopy::Step::Done:
            m_pipe.close();
            return finishReader(true);
        case KernelCopy::Step::WouldBlock:
            return waitFor(tcp::socket::wait_read, &Session::spliceBody);
        default:
            return drop(); // cut off: the reader drops the file
        }
    }

    // Fills the whole piece before handing it on: the socket gives a few hundred KiB per read,
    // and the reader then writes each piece once instead of gathering them in a copy of its own.
    void readRaw() {
        if (m_rawLeft == 0)
            return finishReader(true);
        // The reader passes the body on to slower storage: wait for it instead of buffering.
        if (!m_reader->ready(resumeWith(&Session::readRaw)))
            return;
        lowest().expires_after(m_shared.options.bodyTimeout);
        const size_t room = size_t(std::min<uint64_t>(m_rawLeft, m_piece.size() - m_pieceFill));
        m_stream.async_read_some(net::buffer(m_piece.data() + m_pieceFill, room),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t n) {
                                     if (ec)
                                         return self->drop(); // cut off: the reader drops the file
                                     self->m_rawLeft -= n;
                                     self->m_pieceFill += n;
                                     if (self->m_pieceFill == self->m_piece.size() || self->m_rawLeft == 0) {
                                         const size_t full = std::exchange(self->m_pieceFill, 0);
                                         if (!self->m_reader->write(self->m_piece.data(), full))
                                             return self->readerStopped();
                                     }
                                     self->readRaw();
                                 });
    }

    void readerStopped() {
        finishReader(false); // the rest of the body stays unread: the connection closes
    }

    void onBodyPiece(beast::error_code ec) {
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            return isProtocolError(ec) ? refuse(400) : drop();
        const size_t got = m_piece.size() - m_parser->get().body().size;
        if (got > 0) {
            if (m_reader) {
                if (!m_reader->write(m_piece.data(), got))
                    return readerStopped();
            } else if (size_t(m_body.size()) + got >
                       (m_match.maxBodyBytes > 0 ? m_match.maxBodyBytes : m_shared.options.maxBodyBytes)) {
                return refuse(413); // a chunked body that grew past the limit
            } else if (!reserveBody(got)) {
                return refuse(503);
            } else {
                m_body.append(m_piece.data(), qsizetype(got));
            }
        }
        if (m_parser->is_done())
            return bodyDone();
        readBody();
    }

    // A step to run later on this connection's executor, from whatever thread a reader or a
    // body source calls it; it keeps the connection alive until then.
    std::function<void()> resumeWith(void (Session::*step)()) {
        return [self = this->shared_from_this(), step] {
            net::post(self->m_stream.get_executor(), [self, step] { ((*self).*step)(); });
        };
    }

    // The reader's answer may take a while (an upload committed to another server); the
    // connection waits for it without holding its thread.
    void finishReader(bool complete) {
        m_finishing = std::move(m_reader);
        auto done = [self = this->shared_from_this(), complete](ApiResponse answer) {
            net::post(self->m_stream.get_executor(), [self, complete, answer = std::move(answer)]() mutable {
                if (!complete)
                    answer.closeConnection = true;
                self->respond(std::move(answer));
            });
        };
        try {
            m_finishing->finishAsync(complete, done);
        } catch (...) {
            done(ApiResponse::failure(500, statusText(500)));
        }
    }

    void bodyDone() {
        if (m_reader)
            return finishReader(true);
        if (!m_match.handler)
            return respond(ApiResponse::failure(404, QStringLiteral("Not found")));
        m_request.body = std::move(m_body);
        try {
            respond((*m_match.handler)(m_request));
        } catch (...) {
            respond(ApiResponse::failure(500, statusText(500)));
        }
    }

    // Malformed or oversized: answered at once, and the connection is not trusted further.
    void refuse(int status) {
        m_reader.reset();
        ApiResponse answer = ApiResponse::failure(status, statusText(status));
        answer.closeConnection = true;
        respond(std::move(answer));
    }

    void respond(ApiResponse answer) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - m_start).count();
        logLine(QStringLiteral("%1 %2 %3 %4 ms")
                    .arg(m_request.method, m_shared.router.loggablePath(m_request.method, m_request.path))
                    .arg(answer.status)
                    .arg(ms, 0, 'f', 1));
        m_keepAlive = m_keepAlive && !answer.closeConnection && !m_shared.stopping;
        // A body left unread cannot be told apart from the next request.
        const bool bodyRead = m_raw ? m_rawLeft == 0 : !m_parser || m_parser->is_done();
        if (!bodyRead)
            m_keepAlive = false;
        m_response.emplace();
        auto& res = *m_response;
        res.result(unsigned(answer.status));
        res.version(m_parser ? m_parser->get().version() : 11);
        res.set(http::field::content_type,
                std::string_view(answer.contentType.constData(), size_t(answer.contentType.size())));
        for (const auto& [name, value] : answer.headers)
            res.set(std::string_view(name.constData(), size_t(name.size())),
                    std::string_view(value.constData(), size_t(value.size())));
        res.keep_alive(m_keepAlive);
        const bool noBody = answer.status == 304 || answer.status == 204;
        m_stream_source = std::move(answer.stream);
        if (m_stream_source) {
            if (!noBody)
                res.content_length(m_stream_source->size());
            m_remaining = noBody || m_head ? 0 : m_stream_source->size();
        } else {
            if (!noBody)
                res.content_length(uint64_t(answer.body.size()));
            // Sent from the answer's own bytes (kept until the write ends), not from a copy.
            m_answerBody = std::move(answer.body);
            if (!noBody && !m_head)
                res.body() = beast::span<const char>(m_answerBody.constData(), size_t(m_answerBody.size()));
            m_remaining = 0;
        }
        m_serializer.emplace(res);
        m_serializer->split(false);
        lowest().expires_after(m_shared.options.bodyTimeout);
        http::async_write(m_stream, *m_serializer,
                          [self = this->shared_from_this()](beast::error_code ec, size_t) {
                              if (ec)
                                  return self->drop();
                              self->writeStreamPiece();
                          });
    }

    void writeStreamPiece() {
        if (m_remaining == 0)
            return afterResponse();
        if constexpr (!kTls) {
            if (const auto region = m_stream_source->fileRegion()) {
                m_fileRegion = *region;
                return sendFile();
            }
        }
        if (!m_stream_source->ready(resumeWith(&Session::writeStreamPiece)))
            return;
        m_piece.resize(kStreamPiece);
        const int64_t n =
            m_stream_source->read(m_piece.data(), size_t(std::min<uint64_t>(m_remaining, m_piece.size())));
        if (n <= 0)
            return drop(); // the promised length cannot be kept: cut the connection
        m_remaining -= uint64_t(n);
        lowest().expires_after(m_shared.options.bodyTimeout);
        net::async_write(m_stream, net::buffer(m_piece.data(), size_t(n)),
                         [self = this->shared_from_this()](beast::error_code ec, size_t) {
                             if (ec)
                                 return self->drop();
                             self->writeStreamPiece();
                         });
    }

    // A file body on a plain connection goes from the page cache to the socket with sendfile();
    // when the socket is full it waits for room, under the body time-out.
    void sendFile() {
        auto& socket = lowest().socket();
        beast::error_code ec;
        socket.native_non_blocking(true, ec);
        if (ec)
            return drop();
        switch (KernelCopy::sendFile(socket.native_handle(), m_fileRegion.fd, &m_fileRegion.offset,
                                     &m_remaining)) {
        case KernelCopy::Step::Done:
            return afterResponse();
        case KernelCopy::Step::WouldBlock:
            return waitFor(tcp::socket::wait_write, &Session::sendFile);
        default:
            return drop(); // the file shrank or the socket failed: the length cannot be kept
        }
    }

    // Waits until the socket is ready for the next step, for at most the body time-out.
    void waitFor(tcp::socket::wait_type what, void (Session::*next)()) {
        const uint64_t turn = ++m_waitTurn;
        m_waitTimer.expires_after(m_shared.options.bodyTimeout);
        m_waitTimer.async_wait([self = this->shared_from_this(), turn](beast::error_code ec) {
            if (!ec && self->m_waitTurn == turn) {
                beast::error_code ignored;
                self->lowest().socket().cancel(ignored); // the client stalled
            }
        });
        lowest().socket().async_wait(what, [self = this->shared_from_this(), next](beast::error_code ec) {
            ++self->m_waitTurn;
            self->m_waitTimer.cancel();
            if (ec)
                return self->drop();
            ((*self).*next)();
        });
    }

    void afterResponse() {
        setBusy(false);
        m_stream_source.reset();
        m_finishing.reset();
        m_serializer.reset();
        m_response.reset();
        m_answerBody = QByteArray();
        m_request.body = QByteArray();
        m_body = QByteArray();
        releaseBody();
        if (m_piece.size() > kMemoryPiece)
            std::vector<char>().swap(m_piece); // idle connections keep no large buffer
        if (!m_keepAlive)
            return finish();
        m_parser.reset();
        m_raw = false;
        readRequest();
    }

    // Ends the connection after an answer: the sending side first, then whatever the client
    // still sends is read and dropped for a moment, so the answer is not lost to a reset.
    void finish() {
        lowest().expires_after(std::chrono::seconds(2));
        if constexpr (kTls) {
            m_stream.async_shutdown([self = this->shared_from_this()](beast::error_code) { self->drop(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            drain();
        }
    }

    void drain() {
        if (m_piece.capacity() != kDrainPiece)
            std::vector<char>(kDrainPiece).swap(m_piece); // many may close at once: keep it small
        lowest().async_read_some(net::buffer(m_piece),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                     if (ec)
                                         return self->drop();
                                     self->drain();
                                 });
    }

    void drop() {
        setBusy(false);
        m_reader.reset();
        m_body = QByteArray();
        m_request.body = QByteArray();
        releaseBody();
        beast::error_code ignored;
        lowest().socket().close(ignored);
    }

    Shared& m_shared;
    std::string m_peer;
    Stream m_stream;
    net::steady_timer m_waitTimer{beast::get_lowest_layer(m_stream).get_executor()};
    BodyWriter::FileRegion m_fileRegion;
    KernelCopy::Pipe m_pipe; // splice() uploads
    int m_spliceTarget = -1;
    uint64_t m_waitTurn = 0;
    // Bounded for headers by the parser's own limit; body reads go up to 64 KiB at a time.
    beast::flat_buffer m_buffer{kHeaderLimit + kMemoryPiece};
    std::optional<http::request_parser<http::buffer_body>> m_parser;
    std::optional<http::response<http::span_body<const char>>> m_response;
    std::optional<http::response_serializer<http::span_body<const char>>> m_serializer;
    QByteArray m_answerBody;
    std::vector<char> m_piece;
    ApiRequest m_request;
    Router::Match m_match;
    QByteArray m_body;
    std::unique_ptr<BodyReader> m_reader;
    std::unique_ptr<BodyReader> m_finishing; // a reader whose answer is on its way
    std::shared_ptr<BodyWriter> m_stream_source;
    uint64_t m_remaining = 0;
    bool m_raw = false; // the body is read around the parser (see readBody)
    uint64_t m_rawLeft = 0;
    size_t m_pieceFill = 0; // bytes of m_piece read but not yet handed to the reader
    size_t m_bodyFill = 0;  // bytes of m_body read (bodies of known length in memory)
    uint64_t m_reservedBody = 0;
    Clock::time_point m_start = Clock::now();
    bool m_head = false;
    bool m_keepAlive = false;
    bool m_busy = false;
};

} // namespace

struct HttpTransport::Impl {
    Shared shared;
    std::optional<net::io_context> io;
    std::optional<ssl::context> tls;
    std::optional<tcp::acceptor> acceptor;
    std::optional<net::steady_timer> retry;
    std::optional<net::steady_timer> trim;
    std::vector<std::thread> threads;
    bool valid = true;
    bool stopped = false;
    int port = -1;

    Impl(const Router& router, Options options)
        : shared{router, options, ConnectionCount(options.maxConnections, options.maxConnectionsPerAddress)} {
        io.emplace(std::max(1, options.threads));
        acceptor.emplace(*io);
        retry.emplace(*io);
        trim.emplace(*io);
        if (!options.tlsCert.isEmpty()) {
            tls.emplace(ssl::context::tls_server);
            tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                             ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
            beast::error_code ec;
            tls->use_certificate_chain_file(options.tlsCert.toStdString(), ec);
            if (!ec)
                tls->use_private_key_file(options.tlsKey.toStdString(), ssl::context::pem, ec);
            valid = !ec;
        }
    }

    void accept() {
        acceptor->async_accept(net::make_strand(*io), [this](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor->is_open())
                return;
            if (ec) {
                // Out of descriptors, most likely: wait a moment instead of spinning.
                retry->expires_after(std::chrono::milliseconds(50));
                retry->async_wait([this](beast::error_code) {
                    if (acceptor->is_open())
                        accept();
                });
                return;
            }
            onAccepted(std::move(socket));
            accept();
        });
    }

    // After a burst of large or stalled requests the freed memory would stay with the process
    // (glibc keeps it in its arenas); once enough has been freed, give it back to the system.
    void scheduleTrim() {
        trim->expires_after(std::chrono::seconds(2));
        trim->async_wait([this](beast::error_code ec) {
            if (ec)
                return;
            if (shared.freedSinceTrim.load() >= kTrimAfterBytes) {
                shared.freedSinceTrim = 0;
                ::malloc_trim(0);
            }
            scheduleTrim();
        });
    }
    static constexpr uint64_t kTrimAfterBytes = 16 << 20;

    void onAccepted(tcp::socket socket) {
        beast::error_code ec;
        const tcp::endpoint remote = socket.remote_endpoint(ec);
        if (ec)
            return;
        std::string peer = remote.address().to_string();
        if (!shared.connections.admit(peer)) {
            socket.close(ec);
            return;
        }
        socket.set_option(tcp::no_delay(true), ec);
        if (tls)
            std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(shared, std::move(peer),
                                                                            std::move(socket), *tls)
                ->start();
        else
            std::make_shared<Session<beast::tcp_stream>>(shared, std::move(peer), std::move(socket))->start();
    }
};

HttpTransport::HttpTransport(const Router& router, Options options)
    : m_impl(std::make_unique<Impl>(router, std::move(options))) {}

HttpTransport::~HttpTransport() {
    stop();
}

bool HttpTransport::isValid() const {
    return m_impl->valid;
}

bool HttpTransport::bind(const QString& host, int port, QString* error) {
    beast::error_code ec;
    const net::ip::address address = net::ip::make_address(host.toStdString(), ec);
    tcp::acceptor& acceptor = *m_impl->acceptor;
    if (!ec) {
        const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
        acceptor.open(endpoint.protocol(), ec);
        if (!ec)
            acceptor.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            acceptor.bind(endpoint, ec);
        if (!ec)
            acceptor.listen(net::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        acceptor.close(ec);
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2").arg(host).arg(port);
        return false;
    }
    m_impl->port = acceptor.local_endpoint().port();
    return true;
}

int HttpTransport::port() const {
    return m_impl->port;
}

void HttpTransport::start() {
    // A client that goes away during a download makes sendfile() fail with EPIPE, which would
    // otherwise end the whole process with SIGPIPE (the library's own writes use MSG_NOSIGNAL).
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
    m_impl->accept();
    m_impl->scheduleTrim();
    const int threads = std::max(1, m_impl->shared.options.threads);
    for (int i = 0; i < threads; ++i)
        m_impl->threads.emplace_back([io = &*m_impl->io] { io->run(); });
}

void HttpTransport::stop() {
    Impl& impl = *m_impl;
    if (impl.stopped)
        return;
    impl.stopped = true;
    impl.shared.stopping = true;
    net::post(*impl.io, [&impl] {
        beast::error_code ignored;
        impl.acceptor->close(ignored);
        impl.retry->cancel();
        impl.trim->cancel();
    });
    // Requests in progress get a few seconds to finish; idle connections are simply closed.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!impl.threads.empty() && impl.shared.busy > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    impl.io->stop();
    for (std::thread& t : impl.threads)
        t.join();
    impl.threads.clear();
    // Destroying the pending work destroys the sessions, and with them any unfinished upload.
    impl.retry.reset();
    impl.trim.reset();
    impl.acceptor.reset();
    impl.io.reset();
}
