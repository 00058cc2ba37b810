#include "server/HttpTransport.h"

#include "core/Log.h"
#include "server/Router.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
// Set when a request's headers have been read; the logger on the same worker thread reads it.
thread_local Clock::time_point t_requestStart;

bool carriesBody(const httplib::Request& req) {
    return (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0") ||
           req.has_header("Transfer-Encoding");
}

bool readsBody(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

QString statusText(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("Bad request");
    case 404:
        return QStringLiteral("Not found");
    case 405:
        return QStringLiteral("Method not allowed");
    case 413:
        return QStringLiteral("Request body too large");
    case 414:
        return QStringLiteral("Request URI too long");
    case 431:
        return QStringLiteral("Request headers too large");
    default:
        return QStringLiteral("Request failed");
    }
}

} // namespace

struct HttpTransport::Impl {
    const Router& router;
    Options options;
    std::unique_ptr<httplib::Server> owned;
    httplib::Server& server;
    std::thread thread;
    std::atomic<bool> finished{false};
    int port = -1;

    Impl(const Router& r, Options o)
        : router(r), options(std::move(o)), owned(makeServer(options)), server(*owned) {}

    static std::unique_ptr<httplib::Server> makeServer(const Options& o) {
        if (!o.tlsCert.isEmpty())
            return std::make_unique<httplib::SSLServer>(o.tlsCert.toLocal8Bit().constData(),
                                                        o.tlsKey.toLocal8Bit().constData());
        return std::make_unique<httplib::Server>();
    }

    // Bodies reach the router in memory, so they are read through a reader that keeps at most
    // maxBodyBytes and drains the rest: the client still gets its answer, and the connection
    // stays in step for the next request.
    void handleWithBody(const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) {
        QByteArray body;
        bool tooLarge = false;
        const bool complete = reader([&](const char* data, size_t length) {
            if (tooLarge || size_t(body.size()) + length > options.maxBodyBytes) {
                tooLarge = true;
                body.clear();
                return true;
            }
            body.append(data, qsizetype(length));
            return true;
        });
        if (tooLarge || !complete) {
            const ApiResponse answer =
                ApiResponse::failure(tooLarge ? 413 : 400, statusText(tooLarge ? 413 : 400));
            res.status = answer.status;
            res.set_content(answer.body.constData(), size_t(answer.body.size()),
                            answer.contentType.constData());
            return;
        }
        handle(req, res, std::move(body));
    }

    void handle(const httplib::Request& req, httplib::Response& res, QByteArray body = {}) {
        ApiRequest request;
        request.method = QString::fromStdString(req.method);
        request.path = QString::fromUtf8(req.path.data(), qsizetype(req.path.size()));
        for (const auto& [name, value] : req.headers)
            request.headers.insert(QString::fromStdString(name).toLower(),
                                   QString::fromUtf8(value.data(), qsizetype(value.size())));
        request.body = std::move(body);
        const ApiResponse answer = router.dispatch(std::move(request));
        res.status = answer.status;
        res.set_content(answer.body.constData(), size_t(answer.body.size()), answer.contentType.constData());
        for (const auto& [name, value] : answer.headers)
            res.set_header(name.toStdString(), value.toStdString());
        // httplib reads no body for GET, so the body the client sent would be parsed as the
        // next request on this connection; closing it after the answer avoids that.
        if (!readsBody(req.method) && carriesBody(req))
            res.set_header("Connection", "close");
    }

    void setUp() {
        server.new_task_queue = [threads = options.threads] {
            return new httplib::ThreadPool(size_t(threads));
        };
        server.set_payload_max_length(std::max(options.maxBodyBytes, options.maxStreamingBytes));
        // Headers and body go out in separate writes; without this, small answers wait for
        // the client's delayed ACK (about 40 ms each).
        server.set_tcp_nodelay(true);
        // An idle kept-alive connection holds a worker thread, and stop() waits for it: keep
        // the wait short so idle clients neither starve others nor delay shutdown for long.
        server.set_keep_alive_timeout(2);
        server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
            t_requestStart = Clock::now();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        if (options.streamingRoutes)
            options.streamingRoutes(server);
        const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            handle(req, res);
        };
        const auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            handleWithBody(req, res, reader);
        };
        server.Get(".*", handler);
        server.Post(".*", withBody);
        server.Put(".*", withBody);
        server.Patch(".*", withBody);
        server.Delete(".*", withBody);
        server.Options(".*", handler);
        // Errors httplib answers itself (oversized body, bad request line) get the same JSON shape.
        server.set_error_handler(
            httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
                if (!res.body.empty())
                    return httplib::Server::HandlerResponse::Unhandled;
                const ApiResponse answer = ApiResponse::failure(res.status, statusText(res.status));
                res.set_content(answer.body.constData(), size_t(answer.body.size()),
                                answer.contentType.constData());
                return httplib::Server::HandlerResponse::Handled;
            }));
        server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            const ApiResponse answer = ApiResponse::failure(500, QStringLiteral("Internal error"));
            res.status = answer.status;
            res.set_content(answer.body.constData(), size_t(answer.body.size()),
                            answer.contentType.constData());
        });
        server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - t_requestStart).count();
            const QString method = QString::fromStdString(req.method);
            const QString path =
                router.loggablePath(method, QString::fromUtf8(req.path.data(), qsizetype(req.path.size())));
            logLine(QStringLiteral("%1 %2 %3 %4 ms").arg(method, path).arg(res.status).arg(ms, 0, 'f', 1));
        });
    }
};

HttpTransport::HttpTransport(const Router& router, Options options)
    : m_impl(std::make_unique<Impl>(router, options)) {
    m_impl->setUp();
}

HttpTransport::~HttpTransport() {
    stop();
}

bool HttpTransport::isValid() const {
    return m_impl->server.is_valid();
}

bool HttpTransport::bind(const QString& host, int port, QString* error) {
    const std::string h = host.toStdString();
    const int bound =
        port == 0 ? m_impl->server.bind_to_any_port(h) : (m_impl->server.bind_to_port(h, port) ? port : -1);
    if (bound < 0) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2").arg(host).arg(port);
        return false;
    }
    m_impl->port = bound;
    return true;
}

int HttpTransport::port() const {
    return m_impl->port;
}

void HttpTransport::start() {
    m_impl->thread = std::thread([impl = m_impl.get()] {
        impl->server.listen_after_bind();
        impl->finished = true;
    });
    // Return only once the accept loop runs: a stop() that came earlier would be lost, and
    // callers connect right after start().
    while (!m_impl->server.is_running() && !m_impl->finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpTransport::stop() {
    m_impl->server.stop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}
