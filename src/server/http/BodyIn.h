#pragma once

#include "server/ApiMessage.h"
#include "server/KernelCopy.h"
#include "server/http/BodyBudget.h"
#include "server/http/Connection.h"
#include "server/http/RequestHead.h"

#include <boost/beast/http/read.hpp>

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <vector>

namespace transport {

namespace http = beast::http;

// How a request body ends.
enum class BodyEnd {
    Complete,      // all of it arrived
    ReaderStopped, // the reader took no more; the rest stays unread
    TooLarge,      // a chunked body grew past the route's limit: 413
    OverBudget,    // the bodies in memory reached their shared bound: 503
    Malformed,     // a bad chunk: 400
    Cut            // the client went away or stalled
};

inline bool isProtocolError(const beast::error_code& ec) {
    return &ec.category() == &http::make_error_code(http::error::bad_version).category();
}

// The ways a request body comes in:
// - into memory, for handlers. A body of known length goes straight into its own bytes (reserved
//   for it at the header), so a client that stalls holds nothing beyond what it sent; a chunked
//   one grows in 16 KiB pieces, counted against the route's limit and the shared bound.
// - to a BodyReader (uploads to disk or a bucket), in pieces of up to 1 MiB, waiting while the
//   reader passes earlier pieces on to slower storage.
// - to a reader backed by a plain file, on a plain connection: socket → pipe → file with
//   splice(), never through our memory.
// Owner is the session: it keeps the connection alive across steps and hears how the body ended
// (bodyEnded), always on the connection's strand.
template <class Owner> class BodyIn {
public:
    explicit BodyIn(Owner& owner) : m_owner(owner) {}

    // Takes a body of known length that arrived with its header whole; true when it did.
    bool takeArrived(RequestParser& parser) {
        auto& buffer = m_owner.link().buffer();
        const auto length = parser.content_length();
        if (parser.chunked() || !length || *length == 0 || *length > buffer.size())
            return false;
        m_body = QByteArray(static_cast<const char*>(buffer.data().data()), qsizetype(*length));
        buffer.consume(size_t(*length));
        m_raw = true;
        m_rawLeft = 0;
        return true;
    }

    void read(RequestParser& parser, BodyReader* reader, uint64_t limit, BodyReservation& reservation) {
        m_parser = &parser;
        m_reader = reader;
        m_limit = limit;
        m_reservation = &reservation;
        const auto length = parser.content_length();
        if (parser.chunked() || !length)
            return readChunked();
        m_raw = true;
        m_rawLeft = *length;
        if (!reader)
            return startMemory();
        // The reader gets what came with the header first, without a copy.
        auto& buffer = m_owner.link().buffer();
        const size_t early = size_t(std::min<uint64_t>(m_rawLeft, buffer.size()));
        if (early > 0) {
            const bool accepted = reader->write(static_cast<const char*>(buffer.data().data()), early);
            buffer.consume(early);
            m_rawLeft -= early;
            if (!accepted)
                return end(BodyEnd::ReaderStopped);
        }
        if constexpr (!Owner::Link::kTls) {
            // The target has written all it held; without a pipe the body takes the usual path.
            if (m_rawLeft > 0 && (m_spliceTarget = reader->spliceTarget(m_rawLeft)) >= 0 && m_pipe.open())
                return splice();
        }
        m_piece.resize(kStreamPiece);
        m_pieceFill = 0;
        readPieces();
    }

    // A body left unread cannot be told apart from the next request.
    bool fullyRead(const RequestParser* parser) const {
        return m_raw ? m_rawLeft == 0 : !parser || parser->is_done();
    }
    QByteArray takeBytes() { return std::move(m_body); }

    // After the answer (or when the connection ends): nothing large stays with an idle connection.
    void reset() {
        m_body = QByteArray();
        if (m_piece.size() > kMemoryPiece)
            std::vector<char>().swap(m_piece);
        m_pipe.close();
        m_parser = nullptr;
        m_reader = nullptr;
        m_raw = false;
        m_rawLeft = 0;
    }

private:
    auto& link() { return m_owner.link(); }
    std::chrono::milliseconds timeout() const { return m_owner.options().bodyTimeout; }

    void end(BodyEnd how) {
        if (how != BodyEnd::Complete)
            m_pipe.close();
        m_owner.bodyEnded(how);
    }

    void startMemory() {
        auto& buffer = link().buffer();
        m_body.resize(qsizetype(m_rawLeft));
        m_bodyFill = size_t(std::min<uint64_t>(m_rawLeft, buffer.size()));
        std::memcpy(m_body.data(), buffer.data().data(), m_bodyFill);
        buffer.consume(m_bodyFill);
        m_rawLeft -= m_bodyFill;
        readMemory();
    }

    void readMemory() {
        if (m_rawLeft == 0)
            return end(BodyEnd::Complete);
        link().expiresAfter(timeout());
        link().stream().async_read_some(
            net::buffer(m_body.data() + m_bodyFill, size_t(m_rawLeft)),
            [this, self = m_owner.shared_from_this()](beast::error_code ec, size_t n) {
                if (ec)
                    return end(BodyEnd::Cut);
                m_rawLeft -= n;
                m_bodyFill += n;
                readMemory();
            });
    }

    // Fills the whole piece before handing it on: the socket gives a few hundred KiB per read,
    // and the reader then writes each piece once instead of gathering them in a copy of its own.
    void readPieces() {
        if (m_rawLeft == 0)
            return end(BodyEnd::Complete);
        if (!m_reader->ready(link().resumer(m_owner.shared_from_this(), [this] { readPieces(); })))
            return;
        link().expiresAfter(timeout());
        const size_t room = size_t(std::min<uint64_t>(m_rawLeft, m_piece.size() - m_pieceFill));
        link().stream().async_read_some(
            net::buffer(m_piece.data() + m_pieceFill, room),
            [this, self = m_owner.shared_from_this()](beast::error_code ec, size_t n) {
                if (ec)
                    return end(BodyEnd::Cut); // the reader drops the file
                m_rawLeft -= n;
                m_pieceFill += n;
                if (m_pieceFill == m_piece.size() || m_rawLeft == 0) {
                    const size_t full = std::exchange(m_pieceFill, 0);
                    if (!m_reader->write(m_piece.data(), full))
                        return end(BodyEnd::ReaderStopped);
                }
                readPieces();
            });
    }

    void splice() {
        const int socket = link().nonBlockingHandle();
        uint64_t moved = 0;
        const KernelCopy::Step step = socket < 0 ? KernelCopy::Step::Failed
                                                 : m_pipe.receive(socket, m_spliceTarget, &m_rawLeft, &moved);
        if (!m_reader->spliced(size_t(moved), step != KernelCopy::Step::FileFailed))
            return end(BodyEnd::ReaderStopped);
        switch (step) {
        case KernelCopy::Step::Done:
            m_pipe.close();
            return end(BodyEnd::Complete);
        case KernelCopy::Step::WouldBlock:
            return link().waitFor(tcp::socket::wait_read, timeout(), m_owner.shared_from_this(),
                                  [this](bool ok) { ok ? splice() : end(BodyEnd::Cut); });
        default:
            return end(BodyEnd::Cut);
        }
    }

    // Chunked bodies go through the parser, into a piece at a time.
    void readChunked() {
        if (m_reader &&
            !m_reader->ready(link().resumer(m_owner.shared_from_this(), [this] { readChunked(); })))
            return;
        m_piece.resize(m_reader ? kStreamPiece : kMemoryPiece);
        auto& body = m_parser->get().body();
        body.data = m_piece.data();
        body.size = m_piece.size();
        link().expiresAfter(timeout());
        http::async_read(
            link().stream(), link().buffer(), *m_parser,
            [this, self = m_owner.shared_from_this()](beast::error_code ec, size_t) { onChunkedPiece(ec); });
    }

    void onChunkedPiece(beast::error_code ec) {
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            return end(isProtocolError(ec) ? BodyEnd::Malformed : BodyEnd::Cut);
        const size_t got = m_piece.size() - m_parser->get().body().size;
        if (got > 0) {
            if (m_reader) {
                if (!m_reader->write(m_piece.data(), got))
                    return end(BodyEnd::ReaderStopped);
            } else if (uint64_t(m_body.size()) + got > m_limit) {
                return end(BodyEnd::TooLarge);
            } else if (!m_reservation->add(got)) {
                return end(BodyEnd::OverBudget);
            } else {
                m_body.append(m_piece.data(), qsizetype(got));
            }
        }
        if (m_parser->is_done())
            return end(BodyEnd::Complete);
        readChunked();
    }

    Owner& m_owner;
    RequestParser* m_parser = nullptr;
    BodyReader* m_reader = nullptr;
    BodyReservation* m_reservation = nullptr;
    uint64_t m_limit = 0;
    QByteArray m_body;
    size_t m_bodyFill = 0; // bytes of m_body read (bodies of known length in memory)
    bool m_raw = false;    // a body of known length, read around the parser
    uint64_t m_rawLeft = 0;
    std::vector<char> m_piece;
    size_t m_pieceFill = 0; // bytes of m_piece read but not yet handed to the reader
    KernelCopy::Pipe m_pipe;
    int m_spliceTarget = -1;
};

} // namespace transport
