#include "server/http/RequestHead.h"

#include <QUrl>
#include <QUrlQuery>

#include <boost/beast/core/string.hpp>

#include <iterator>
#include <string_view>

namespace http = boost::beast::http;

namespace {
QString latin1(boost::beast::string_view s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
QString utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
} // namespace

RequestHead readRequestHead(const RequestParser& parser, const QString& peer) {
    RequestHead out;
    const auto& head = parser.get();
    // Repeated lengths, a transfer coding that does not end in chunked, and two Host headers
    // (which leave the target ambiguous, RFC 9112, 3.2).
    const auto lengths = head.equal_range(http::field::content_length);
    const bool codedNotChunked = head.count(http::field::transfer_encoding) > 0 && !parser.chunked();
    if ((lengths.first != lengths.second && std::next(lengths.first) != lengths.second) || codedNotChunked ||
        head.count(http::field::host) > 1) {
        out.ambiguous = true;
        out.request.method = out.request.path = QStringLiteral("-");
        return out;
    }
    ApiRequest& request = out.request;
    request.method = latin1(head.method_string());
    const std::string_view target(head.target().data(), head.target().size());
    request.target = QByteArray(target.data(), qsizetype(target.size()));
    const size_t question = target.find('?');
    const std::string_view rawPath = target.substr(0, question);
    request.path = QUrl::fromPercentEncoding(QByteArray(rawPath.data(), qsizetype(rawPath.size())));
    if (question != std::string_view::npos) {
        const QUrlQuery query(utf8(target.substr(question + 1)));
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            request.query.insert(key, value);
    }
    for (const auto& field : head) {
        const QString name = latin1(field.name_string()).toLower();
        const QString value = utf8(std::string_view(field.value().data(), field.value().size()));
        if (!request.headers.contains(name))
            request.headers.insert(name, value);
        else if (name == QLatin1String("forwarded") || name == QLatin1String("x-forwarded-for"))
            request.headers[name] += QLatin1String(", ") + value; // one list, the nearest proxy's line last
    }
    request.peer = peer;
    out.isHead = head.method() == http::verb::head;
    out.keepAlive = head.keep_alive();
    out.expectContinue = boost::beast::iequals(head[http::field::expect], "100-continue");
    if (const auto length = parser.content_length())
        out.contentLength = *length;
    out.bodyDone = parser.is_done();
    return out;
}
