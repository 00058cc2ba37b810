#pragma once

#include "server/ApiMessage.h"

#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <cstdint>
#include <optional>

// Requests are parsed header first; the body goes wherever the route wants it (see BodyIn).
using RequestParser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;

// What a request's header says, read once the header is in and before any of the body is.
struct RequestHead {
    ApiRequest request; // method, decoded path and query, headers (lower-case names), peer
    // Framing that two parsers could read differently (a proxy in front, and this server):
    // the request is refused with 400 and its method and path are logged as "-".
    bool ambiguous = false;
    bool isHead = false;
    bool keepAlive = false;
    bool expectContinue = false;
    bool chunked = false;
    std::optional<uint64_t> contentLength;
    bool bodyDone = false; // no body follows
};

// A pure function of the parsed header (the fuzz target feeds it raw bytes).
RequestHead readRequestHead(const RequestParser& parser, const QString& peer);
