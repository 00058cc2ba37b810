#pragma once

#include "core/Log.h"
#include "server/Metrics.h"

#include "server/Router.h"
#include "server/http/BodyIn.h"
#include "server/http/BodyOut.h"
#include "server/http/Connection.h"
#include "server/http/Dispatch.h"
#include "server/http/RequestHead.h"
#include "server/http/TransportContext.h"
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <boost/beast/http/read.hpp>

#include <limits>
#include <optional>
#include <string>

namespace transport {

// One connection's life: its requests one after another, each read header first and decided
// on it (route, header checks, declared length) before any of its body is read; the body in and
// the answer out through BodyIn and BodyOut; the router's work on a handler thread, its answer
// back on this connection's strand; one log line per request.
template <class Stream>
class Session : public SessionRegistry::Closable, public std::enable_shared_from_this<Session<Stream>> {
public:
    using Link = Connection<Stream>;

    template <class... Args>
    Session(TransportContext& context, std::string peer, Args&&... args)
        : m_context(context), m_peer(std::move(peer)), m_peerText(QString::fromStdString(m_peer)),
          m_link(std::forward<Args>(args)...), m_reservation(context.bodies) {}

    ~Session() override {
        setBusy(false);
        m_reader.reset(); // an upload cut off by the client: its reader drops the partial file
        m_context.bodies.freed(kFootprint);
        m_context.sessions.remove(this, m_peer);
    }

    void start() {
        if constexpr (Link::kTls) {
            m_link.expiresAfter(options().headerTimeout);
            m_link.stream().async_handshake(ssl::stream_base::server,
                                            [self = this->shared_from_this()](beast::error_code ec) {
                                                ec ? self->drop() : self->readRequest();
                                            });
        } else {
            readRequest();
        }
    }

    void close() override {
        m_link.post(this->shared_from_this(), [this] { m_link.close(); });
    }

    // For BodyIn and BodyOut.
    Link& link() { return m_link; }
    const HttpTransport::Options& options() const { return m_context.options; }

    void bodyEnded(BodyEnd how) {
        switch (how) {
        case BodyEnd::Complete:
            return bodyDone();
        case BodyEnd::ReaderStopped:
            return finishReader(false); // the rest of the body stays unread: the connection closes
        case BodyEnd::TooLarge:
            return refuse(413); // a chunked body that grew past the limit
        case BodyEnd::OverBudget:
            return refuse(503);
        case BodyEnd::Malformed:
            return refuse(400);
        case BodyEnd::Cut:
            return drop(); // a reader drops its file
        }
    }

    void answerSent(bool ok) { ok ? afterResponse() : drop(); }

private:
    // Roughly what a connection's own buffers take, for deciding when to give memory back.
    static constexpr uint64_t kFootprint = Link::kTls ? 48 * 1024 : 16 * 1024;

    void setBusy(bool busy) {
        if (busy == m_busy)
            return;
        m_busy = busy;
        busy ? m_context.sessions.requestStarted() : m_context.sessions.requestEnded();
    }

    // Runs work on a handler thread, then next(its result) back on this connection's strand.
    // Meanwhile the connection has no step of its own pending, so work may use the request.
    template <class Work, class Next> void offload(Work work, Next next) {
        net::post(*m_context.handlers, [self = this->shared_from_this(), work = std::move(work),
                                        next = std::move(next)]() mutable {
            auto result = work();
            self->m_link.post(self, [next = std::move(next), result = std::move(result)]() mutable {
                next(std::move(result));
            });
        });
    }

    // Waits for the first byte of the next request under the idle time-out, then for the whole
    // header under the header time-out: a client that trickles its header is cut off in time.
    void readRequest() {
        if (m_context.stopping)
            return finish();
        if (m_link.buffer().size() > 0)
            return readHeader();
        m_link.expiresAfter(options().idleTimeout);
        m_link.stream().async_read_some(m_link.buffer().prepare(4096),
                                        [self = this->shared_from_this()](beast::error_code ec, size_t n) {
                                            if (ec)
                                                return self->drop();
                                            self->m_link.buffer().commit(n);
                                            self->readHeader();
                                        });
    }

    void readHeader() {
        m_parser.emplace();
        m_parser->header_limit(kHeaderLimit);
        m_parser->body_limit(std::numeric_limits<uint64_t>::max()); // limits are ours, per route
        m_link.expiresAfter(options().headerTimeout);
        http::async_read_header(
            m_link.stream(), m_link.buffer(), *m_parser,
            [self = this->shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
    }

    // Everything the header can decide is decided before any of the body is read, so a caller
    // that will be turned away never makes the server hold its body.
    void onHeader(beast::error_code ec) {
        m_start = std::chrono::steady_clock::now();
        m_match = {};
        m_bytesIn = 0;
        if (ec) {
            if (!isProtocolError(ec))
                return drop();
            m_request = ApiRequest{};
            m_request.method = m_request.path = QStringLiteral("-");
            return refuse(ec == http::error::header_limit ? 431 : 400);
        }
        setBusy(true);
        RequestHead head = readRequestHead(*m_parser, m_peerText);
        m_request = std::move(head.request);
        if (head.ambiguous)
            return refuse(400);
        m_request.peer = clientAddress(m_peerText, m_request.header(QStringLiteral("forwarded")),
                                       m_request.header(QStringLiteral("x-forwarded-for")),
                                       m_context.options.trustedProxies);
        m_headOnly = head.isHead;
        m_bytesIn = head.contentLength.value_or(0);
        m_keepAlive = head.keepAlive;
        m_expectContinue = head.expectContinue;
        m_match = m_context.router.match(m_request.method, m_request.path);
        if (std::optional<ApiResponse> refused = m_match.refusal())
            return respond(std::move(*refused));
        m_request.params = std::move(m_match.params);
        m_bodyLimit = m_match.maxBodyBytes > 0 ? m_match.maxBodyBytes : options().maxBodyBytes;

        HeaderFacts facts;
        facts.contentLength = head.contentLength;
        facts.bodyLimit = m_bodyLimit;
        facts.bodyFollows = !head.bodyDone;
        // A small body that came with its header saves a second trip to a handler thread.
        if (!m_match.streaming && !head.expectContinue &&
            (head.bodyDone ||
             (head.contentLength && *head.contentLength <= m_bodyLimit && m_in.takeArrived(*m_parser)))) {
            facts.bodyInHand = true;
            facts.body = m_in.takeBytes();
        }
        // Without header checks, a streaming handler or a handler to run, nothing here can wait.
        if (!m_match.admit && !m_match.streaming && !facts.bodyInHand)
            return onVerdict(
                checkHeader(m_context.router, m_match, m_request, std::move(facts), m_context.bodies));
        offload(
            [this, facts = std::move(facts)]() mutable {
                return checkHeader(m_context.router, m_match, m_request, std::move(facts), m_context.bodies);
            },
            [this](HeaderVerdict verdict) { onVerdict(std::move(verdict)); });
    }

    void onVerdict(HeaderVerdict verdict) {
        m_reservation.adopt(verdict.reserved);
        if (verdict.answer)
            return respond(std::move(*verdict.answer));
        m_reader = std::move(verdict.reader);
        if (m_parser->is_done())
            return bodyDone();
        if (!m_expectContinue)
            return readBody();
        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        m_link.expiresAfter(options().bodyTimeout);
        net::async_write(m_link.stream(), net::buffer(kContinue),
                         [self = this->shared_from_this()](beast::error_code e, size_t) {
                             e ? self->drop() : self->readBody();
                         });
    }

    void readBody() { m_in.read(*m_parser, m_reader.get(), m_bodyLimit, m_reservation); }

    void bodyDone() {
        if (m_reader)
            return finishReader(true);
        m_request.body = m_in.takeBytes();
        offload([this] { return handle(m_context.router, m_match, m_request); },
                [this](ApiResponse answer) { respond(std::move(answer)); });
    }

    // The reader's answer may take a while (a file synced to disk, an upload committed to a
    // bucket): it comes from a handler thread or the bucket's.
    void finishReader(bool complete) {
        m_finishing = std::move(m_reader);
        net::post(*m_context.handlers, [self = this->shared_from_this(), complete] {
            auto done = [self, complete](ApiResponse answer) {
                self->m_link.post(self, [self, complete, answer = std::move(answer)]() mutable {
                    if (!complete)
                        answer.closeConnection = true;
                    self->respond(std::move(answer));
                });
            };
            try {
                self->m_finishing->finishAsync(complete, done);
            } catch (...) {
                done(ApiResponse::failure(500, QStringLiteral("Internal error")));
            }
        });
    }

    // Malformed or oversized: answered at once, and the connection is not trusted further.
    void refuse(int status) {
        m_reader.reset();
        respond(refusal(status));
    }

    // Never a body, a header or a query: those may hold secrets.
    void logRequest(const ApiResponse& answer, double ms) {
        const QString client = m_request.peer.isEmpty() ? m_peerText : m_request.peer;
        if (!m_context.options.jsonLog) {
            logLine(QStringLiteral("%1 %2 %3 %4 %5 ms")
                        .arg(client, m_request.method, Router::loggablePath(m_match, m_request.path))
                        .arg(answer.status)
                        .arg(ms, 0, 'f', 1));
            return;
        }
        const qint64 bytes = answer.stream ? qint64(answer.stream->size()) : answer.body.size();
        const QJsonObject line{
            {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
            {QStringLiteral("client"), client},
            {QStringLiteral("method"), m_request.method},
            {QStringLiteral("route"),
             m_match.kind == Router::Match::Found ? m_match.pattern : QStringLiteral("-")},
            {QStringLiteral("status"), answer.status},
            {QStringLiteral("bytes"), bytes},
            {QStringLiteral("ms"), qRound(ms * 10) / 10.0}};
        logLine(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
    }

    void respond(ApiResponse answer) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
        logRequest(answer, ms);
        if (Metrics* metrics = m_context.options.metrics)
            metrics->requestDone(m_match.kind == Router::Match::Found ? m_match.pattern
                                                                      : QStringLiteral("unmatched"),
                                 answer.status, ms / 1000, m_bytesIn,
                                 answer.stream ? answer.stream->size() : uint64_t(answer.body.size()));
        m_keepAlive = m_keepAlive && !answer.closeConnection && !m_context.stopping &&
                      m_in.fullyRead(m_parser ? &*m_parser : nullptr);
        m_out.send(std::move(answer), m_parser ? m_parser->get().version() : 11, m_keepAlive, m_headOnly);
    }

    void afterResponse() {
        setBusy(false);
        m_out.reset();
        m_in.reset();
        m_finishing.reset();
        m_request.body = QByteArray();
        m_reservation.release();
        if (!m_keepAlive)
            return finish();
        m_parser.reset();
        readRequest();
    }

    // Ends the connection after an answer: the sending side first, then whatever the client
    // still sends is read and dropped for a moment, so the answer is not lost to a reset.
    void finish() {
        m_link.expiresAfter(std::chrono::seconds(2));
        if constexpr (Link::kTls) {
            m_link.stream().async_shutdown(
                [self = this->shared_from_this()](beast::error_code) { self->drop(); });
        } else {
            beast::error_code ignored;
            m_link.lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            drain();
        }
    }

    void drain() {
        auto& buffer = m_link.buffer();
        buffer.clear();
        m_link.lowest().async_read_some(buffer.prepare(4096),
                                        [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                            ec ? self->drop() : self->drain();
                                        });
    }

    void drop() {
        setBusy(false);
        m_reader.reset();
        m_in.reset();
        m_request.body = QByteArray();
        m_reservation.release();
        m_link.close();
    }

    TransportContext& m_context;
    std::string m_peer;
    QString m_peerText;
    Link m_link;
    BodyReservation m_reservation;
    BodyIn<Session> m_in{*this};
    BodyOut<Session> m_out{*this};
    std::optional<RequestParser> m_parser;
    ApiRequest m_request;
    Router::Match m_match;
    uint64_t m_bodyLimit = 0;
    std::unique_ptr<BodyReader> m_reader;
    std::unique_ptr<BodyReader> m_finishing; // a reader whose answer is on its way
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    bool m_headOnly = false;
    uint64_t m_bytesIn = 0; // the request body's declared length
    bool m_keepAlive = false;
    bool m_expectContinue = false;
    bool m_busy = false;
};

} // namespace transport
