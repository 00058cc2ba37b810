// Raw HTTP/1.1 requests as the transport takes them: the header parsed and turned into an
// ApiRequest (readRequestHead), then the router's steps with the body in hand, on the API and
// page handlers over a database in a folder of its own.
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Router.h"
#include "server/http/Dispatch.h"
#include "server/http/RequestHead.h"
#include "server/pages/PageHandlers.h"

#include <boost/asio/buffer.hpp>

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
struct Service {
    QTemporaryDir dir;
    std::unique_ptr<Database> database;
    std::unique_ptr<ApiHandlers> handlers;
    std::unique_ptr<PageHandlers> pages;
    Router router;

    Service() {
        QString error;
        database = Database::open(Database::sqliteUrl(dir.path()), &error, 1);
        if (!database)
            std::abort();
        handlers =
            std::make_unique<ApiHandlers>(*database, ApiHandlers::Settings{QStringLiteral("http://h/"), 1.0});
        handlers->registerRoutes(router);
        pages = std::make_unique<PageHandlers>(*database, QStringLiteral("http://h/"), nullptr);
        pages->registerRoutes(router);
    }
};

constexpr size_t kMaxBody = 1 << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Service service;
    RequestParser parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(kMaxBody);
    boost::beast::error_code ec;
    size_t used = parser.put(boost::asio::buffer(data, size), ec);
    if (ec || !parser.is_header_done())
        return 0;
    RequestHead head = readRequestHead(parser, QStringLiteral("127.0.0.1"));
    if (head.ambiguous)
        return 0;
    QByteArray body;
    char piece[4096];
    while (!parser.is_done() && used < size) {
        parser.get().body().data = piece;
        parser.get().body().size = sizeof piece;
        used += parser.put(boost::asio::buffer(data + used, size - used), ec);
        if (ec == boost::beast::http::error::need_buffer)
            ec = {};
        if (ec)
            return 0;
        body.append(piece, qsizetype(sizeof piece - parser.get().body().size));
    }
    if (!parser.is_done())
        return 0;

    ApiRequest& request = head.request;
    service.router.loggablePath(request.method, request.path);
    Router::Match match = service.router.match(request.method, request.path);
    if (match.refusal())
        return 0;
    request.params = match.params;
    transport::HeaderFacts facts;
    facts.contentLength = head.contentLength;
    facts.bodyLimit = match.maxBodyBytes > 0 ? match.maxBodyBytes : kMaxBody;
    facts.bodyFollows = !head.bodyDone;
    facts.bodyInHand = true;
    facts.body = body;
    BodyBudget budget(64 << 20);
    const transport::HeaderVerdict verdict =
        transport::checkHeader(service.router, match, request, std::move(facts), budget);
    if (!verdict.answer || verdict.answer->status < 100 || verdict.answer->status > 599)
        std::abort();
    return 0;
}
