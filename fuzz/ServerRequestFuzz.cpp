// Requests as the router and handlers receive them, without sockets. The input is
// "METHOD PATH\nname: value\n…\n\nBODY"; the database lives in a folder of its own.
#include "server/ApiHandlers.h"
#include "server/Database.h"
#include "server/Router.h"
#include "server/pages/PageHandlers.h"

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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Service service;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype headEnd = bytes.indexOf("\n\n");
    const QList<QByteArray> head = bytes.left(headEnd < 0 ? bytes.size() : headEnd).split('\n');
    const QList<QByteArray> requestLine = head.value(0).split(' ');
    ApiRequest request;
    request.method = QString::fromUtf8(requestLine.value(0));
    request.path = QString::fromUtf8(requestLine.value(1));
    for (qsizetype i = 1; i < head.size(); ++i) {
        const qsizetype colon = head[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(QString::fromUtf8(head[i].left(colon)).toLower(),
                                   QString::fromUtf8(head[i].mid(colon + 1)).trimmed());
    }
    if (headEnd >= 0)
        request.body = bytes.mid(headEnd + 2);
    service.router.loggablePath(request.method, request.path);
    const ApiResponse response = service.router.dispatch(request);
    if (response.status < 100 || response.status > 599)
        std::abort();
    return 0;
}
