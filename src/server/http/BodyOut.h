#pragma once

#include "server/ApiMessage.h"
#include "server/KernelCopy.h"
#include "server/http/Connection.h"

#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <optional>
#include <vector>

namespace transport {

namespace http = beast::http;

// The ways an answer goes out, after its header:
// - its own bytes (the handler's QByteArray, kept until written, never copied);
// - a BodyWriter read in pieces of up to 1 MiB (downloads over TLS, or from a bucket), waiting
//   while the writer waits for another server;
// - a region of an open file on a plain connection, from the page cache to the socket with
//   sendfile(), never through our memory.
// Owner is the session: it keeps the connection alive across steps and hears when the answer
// is out (answerSent), always on the connection's strand.
template <class Owner> class BodyOut {
public:
    explicit BodyOut(Owner& owner) : m_owner(owner) {}

    void send(ApiResponse answer, unsigned version, bool keepAlive, bool headOnly) {
        m_response.emplace();
        auto& res = *m_response;
        res.result(unsigned(answer.status));
        res.version(version);
        res.set(http::field::content_type,
                std::string_view(answer.contentType.constData(), size_t(answer.contentType.size())));
        for (const auto& [name, value] : answer.headers)
            res.set(std::string_view(name.constData(), size_t(name.size())),
                    std::string_view(value.constData(), size_t(value.size())));
        res.keep_alive(keepAlive);
        const bool noBody = answer.status == 304 || answer.status == 204;
        m_source = std::move(answer.stream);
        if (m_source) {
            if (!noBody)
                res.content_length(m_source->size());
            m_remaining = noBody || headOnly ? 0 : m_source->size();
        } else {
            if (!noBody)
                res.content_length(uint64_t(answer.body.size()));
            m_bytes = std::move(answer.body);
            if (!noBody && !headOnly)
                res.body() = beast::span<const char>(m_bytes.constData(), size_t(m_bytes.size()));
            m_remaining = 0;
        }
        m_serializer.emplace(res);
        m_serializer->split(false);
        link().expiresAfter(timeout());
        http::async_write(link().stream(), *m_serializer,
                          [this, self = m_owner.shared_from_this()](beast::error_code ec, size_t) {
                              ec ? m_owner.answerSent(false) : writePiece();
                          });
    }

    void reset() {
        m_source.reset();
        m_serializer.reset();
        m_response.reset();
        m_bytes = QByteArray();
        if (m_piece.size() > kMemoryPiece)
            std::vector<char>().swap(m_piece); // idle connections keep no large buffer
    }

private:
    auto& link() { return m_owner.link(); }
    std::chrono::milliseconds timeout() const { return m_owner.options().bodyTimeout; }

    void writePiece() {
        if (m_remaining == 0)
            return m_owner.answerSent(true);
        if constexpr (!Owner::Link::kTls) {
            if (const auto region = m_source->fileRegion()) {
                m_region = *region;
                return sendFile();
            }
        }
        if (!m_source->ready(link().resumer(m_owner.shared_from_this(), [this] { writePiece(); })))
            return;
        m_piece.resize(kStreamPiece);
        const int64_t n =
            m_source->read(m_piece.data(), size_t(std::min<uint64_t>(m_remaining, m_piece.size())));
        if (n <= 0)
            return m_owner.answerSent(false); // the promised length cannot be kept: cut the connection
        m_remaining -= uint64_t(n);
        link().expiresAfter(timeout());
        net::async_write(link().stream(), net::buffer(m_piece.data(), size_t(n)),
                         [this, self = m_owner.shared_from_this()](beast::error_code ec, size_t) {
                             ec ? m_owner.answerSent(false) : writePiece();
                         });
    }

    // When the socket is full it waits for room, under the body time-out.
    void sendFile() {
        const int socket = link().nonBlockingHandle();
        if (socket < 0)
            return m_owner.answerSent(false);
        switch (KernelCopy::sendFile(socket, m_region.fd, &m_region.offset, &m_remaining)) {
        case KernelCopy::Step::Done:
            return m_owner.answerSent(true);
        case KernelCopy::Step::WouldBlock:
            return link().waitFor(tcp::socket::wait_write, timeout(), m_owner.shared_from_this(),
                                  [this](bool ok) { ok ? sendFile() : m_owner.answerSent(false); });
        default:
            return m_owner.answerSent(false); // the file shrank or the socket failed
        }
    }

    Owner& m_owner;
    std::optional<http::response<http::span_body<const char>>> m_response;
    std::optional<http::response_serializer<http::span_body<const char>>> m_serializer;
    QByteArray m_bytes;
    std::shared_ptr<BodyWriter> m_source;
    uint64_t m_remaining = 0;
    BodyWriter::FileRegion m_region;
    std::vector<char> m_piece;
};

} // namespace transport
