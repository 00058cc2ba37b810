#pragma once

#include "server/Router.h"
#include "server/http/BodyBudget.h"

#include <cstdint>
#include <memory>
#include <optional>

// The router's decisions for one request, in the order the transport takes them: what the
// header alone decides (before any of the body is read), then the handler once the body is in.
// Both may wait for the database or the storage, so the transport runs them on its handler
// threads; neither touches the connection.
namespace transport {

// The transport's own answers (malformed or oversized requests, a full server, a failed
// handler); the connection is not trusted further.
ApiResponse refusal(int status);

struct HeaderVerdict {
    std::optional<ApiResponse> answer;  // answered now: a refusal, or the handler's answer
    bool handled = false;               // the answer is the handler's (the body was in hand)
    std::unique_ptr<BodyReader> reader; // a streaming route takes the body
    uint64_t reserved = 0;              // bytes of the budget taken for the body in memory
};

struct HeaderFacts {
    std::optional<uint64_t> contentLength;
    uint64_t bodyLimit = 0;
    bool bodyFollows = false; // the header announced a body: a refusal closes the connection
    bool bodyInHand = false;  // the whole body (in body) came with the header
    QByteArray body;
};

// Header checks of the route, the declared length against its limit, then the streaming
// handler or a share of the body budget; with the body in hand, the handler too.
HeaderVerdict checkHeader(const Router& router, const Router::Match& match, ApiRequest& request,
                          HeaderFacts facts, BodyBudget& budget);

// The route's handler (a failure is answered 500).
ApiResponse handle(const Router& router, const Router::Match& match, const ApiRequest& request);

} // namespace transport
