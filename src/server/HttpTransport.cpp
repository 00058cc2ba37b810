#include "server/HttpTransport.h"

#include "server/http/Session.h"
#include "server/http/TransportContext.h"

#include <malloc.h>
#include <signal.h>

#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace transport;

namespace {

// A server context for the PEM chain and key; null (with *error) when either cannot be read or
// the key is not the certificate's.
std::shared_ptr<ssl::context> makeTlsContext(const QString& cert, const QString& key, QString* error) {
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_server);
    tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                     ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    beast::error_code ec;
    tls->use_certificate_chain_file(cert.toStdString(), ec);
    // OpenSSL refuses a key that is not the certificate's here.
    if (!ec)
        tls->use_private_key_file(key.toStdString(), ssl::context::pem, ec);
    if (!ec)
        return tls;
    if (error)
        *error = QStringLiteral("cannot use the TLS certificate %1 and key %2: %3")
                     .arg(cert, key, QString::fromStdString(ec.message()));
    return nullptr;
}

} // namespace

struct HttpTransport::Impl {
    TransportContext context;
    std::optional<net::io_context> io;
    // Swapped by reloadTls(): a connection keeps the context it began with (OpenSSL counts its
    // references), new ones take the current one.
    std::shared_ptr<ssl::context> tls;
    std::mutex tlsMutex;
    std::optional<tcp::acceptor> acceptor;
    std::optional<net::steady_timer> retry;
    std::optional<net::steady_timer> trim;
    // Once the listening socket is closed, a request whose answer is being made on a handler
    // thread leaves the I/O threads nothing to wait for: without this they would return and the
    // answer would never be written.
    std::optional<net::executor_work_guard<net::io_context::executor_type>> running;
    std::vector<std::thread> threads;
    bool valid = true;
    bool stopped = false;
    std::optional<std::chrono::steady_clock::time_point> stopDeadline; // set when accepting stopped
    int port = -1;

    // After a burst of large or stalled requests the freed memory would stay with the process
    // (glibc keeps it in its arenas); once this much has been freed, it goes back to the system.
    static constexpr uint64_t kTrimAfterBytes = 16 << 20;

    Impl(const Router& router, Options options) : context(router, std::move(options)) {
        io.emplace(std::max(1, context.options.threads));
        acceptor.emplace(*io);
        retry.emplace(*io);
        trim.emplace(*io);
        if (!context.options.tlsCert.isEmpty()) {
            tls = makeTlsContext(context.options.tlsCert, context.options.tlsKey, nullptr);
            valid = tls != nullptr;
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

    void scheduleTrim() {
        trim->expires_after(std::chrono::seconds(2));
        trim->async_wait([this](beast::error_code ec) {
            if (ec)
                return;
            if (context.bodies.takeTrimDue(kTrimAfterBytes))
                ::malloc_trim(0);
            scheduleTrim();
        });
    }

    template <class Stream, class... Args> void open(std::string peer, Args&&... args) {
        auto session =
            std::make_shared<Session<Stream>>(context, std::move(peer), std::forward<Args>(args)...);
        context.sessions.add(session);
        session->start();
    }

    void onAccepted(tcp::socket socket) {
        beast::error_code ec;
        const tcp::endpoint remote = socket.remote_endpoint(ec);
        if (ec)
            return;
        std::string peer = remote.address().to_string();
        if (!context.sessions.admit(peer,
                                    !context.options.trustedProxies.contains(QString::fromStdString(peer)))) {
            socket.close(ec);
            return;
        }
        socket.set_option(tcp::no_delay(true), ec);
        if (context.options.tlsCert.isEmpty())
            return open<beast::tcp_stream>(std::move(peer), std::move(socket));
        std::shared_ptr<ssl::context> current;
        {
            std::lock_guard lock(tlsMutex);
            current = tls;
        }
        open<beast::ssl_stream<beast::tcp_stream>>(std::move(peer), std::move(socket), *current);
    }
};

HttpTransport::HttpTransport(const Router& router, Options options)
    : m_impl(std::make_unique<Impl>(router, std::move(options))) {}

int HttpTransport::openConnections() const {
    return m_impl->context.sessions.openCount();
}

HttpTransport::~HttpTransport() {
    stop();
}

bool HttpTransport::isValid() const {
    return m_impl->valid;
}

bool HttpTransport::reloadTls(QString* error) {
    Impl& impl = *m_impl;
    if (impl.context.options.tlsCert.isEmpty()) {
        if (error)
            *error = QStringLiteral("the server does not serve HTTPS itself");
        return false;
    }
    std::shared_ptr<ssl::context> fresh =
        makeTlsContext(impl.context.options.tlsCert, impl.context.options.tlsKey, error);
    if (!fresh)
        return false;
    std::lock_guard lock(impl.tlsMutex);
    impl.tls = std::move(fresh);
    return true;
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
    m_impl->running.emplace(m_impl->io->get_executor());
    m_impl->accept();
    m_impl->scheduleTrim();
    const int threads = std::max(1, m_impl->context.options.threads);
    for (int i = 0; i < threads; ++i)
        m_impl->threads.emplace_back([io = &*m_impl->io] { io->run(); });
}

std::chrono::steady_clock::time_point HttpTransport::stopAccepting() {
    Impl& impl = *m_impl;
    if (impl.stopDeadline)
        return *impl.stopDeadline;
    impl.stopDeadline = std::chrono::steady_clock::now() + impl.context.options.stopGrace;
    impl.context.stopping = true;
    net::post(*impl.io, [&impl] {
        beast::error_code ignored;
        impl.acceptor->close(ignored);
        impl.retry->cancel();
        impl.trim->cancel();
    });
    return *impl.stopDeadline;
}

bool HttpTransport::waitIdle(std::chrono::steady_clock::time_point deadline) {
    return m_impl->threads.empty() || m_impl->context.sessions.waitIdle(deadline);
}

void HttpTransport::stop() {
    Impl& impl = *m_impl;
    if (impl.stopped)
        return;
    impl.stopped = true;
    // Requests in progress get until the deadline to finish; idle connections are simply closed.
    waitIdle(stopAccepting());
    impl.context.sessions.closeAll();
    // A handler still running finishes (it cannot be interrupted); those not started never run.
    impl.context.handlers->stop();
    impl.context.handlers->join();
    impl.running.reset();
    impl.io->stop();
    for (std::thread& t : impl.threads)
        t.join();
    impl.threads.clear();
    // Destroying the pending work destroys the sessions, and with them any unfinished upload.
    impl.context.handlers.reset();
    impl.retry.reset();
    impl.trim.reset();
    impl.acceptor.reset();
    impl.io.reset();
}
