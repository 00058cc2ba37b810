#include "server/http/Dispatch.h"

namespace transport {

ApiResponse refusal(int status) {
    QString text;
    switch (status) {
    case 400:
        text = QStringLiteral("Bad request");
        break;
    case 413:
        text = QStringLiteral("Request body too large");
        break;
    case 431:
        text = QStringLiteral("Request headers too large");
        break;
    case 503:
        text = QStringLiteral("The server is busy; try again shortly");
        break;
    case 500:
        text = QStringLiteral("Internal error");
        break;
    default:
        text = QStringLiteral("Request failed");
    }
    ApiResponse answer = ApiResponse::failure(status, text);
    answer.closeConnection = true;
    return answer;
}

HeaderVerdict checkHeader(const Router& router, const Router::Match& match, ApiRequest& request,
                          HeaderFacts facts, BodyBudget& budget) {
    HeaderVerdict verdict;
    try {
        if (std::optional<ApiResponse> refused = router.admit(match, request)) {
            // A body still unread (or taken with the header) closes the connection after the answer.
            if (facts.bodyFollows)
                refused->closeConnection = true;
            verdict.answer = std::move(refused);
            return verdict;
        }
    } catch (...) {
        verdict.answer = refusal(500);
        return verdict;
    }
    const std::optional<uint64_t> length = facts.contentLength;
    if (length && *length > facts.bodyLimit) {
        verdict.answer = refusal(413);
        return verdict;
    }
    if (match.streaming) {
        try {
            ApiResponse refused = (*match.streaming)(request, &verdict.reader);
            if (!verdict.reader)
                verdict.answer = std::move(refused);
        } catch (...) {
            verdict.reader.reset();
            verdict.answer = refusal(500);
        }
        return verdict;
    }
    if (length && *length > 0) {
        if (!budget.reserve(*length)) {
            verdict.answer = refusal(503); // the bodies in memory have reached their bound
            return verdict;
        }
        verdict.reserved = *length;
    }
    if (facts.bodyInHand) {
        request.body = std::move(facts.body);
        verdict.answer = handle(router, match, request);
        verdict.handled = true;
    }
    return verdict;
}

ApiResponse handle(const Router& router, const Router::Match& match, const ApiRequest& request) {
    try {
        return router.handle(match, request);
    } catch (...) {
        return ApiResponse::failure(500, QStringLiteral("Internal error"));
    }
}

} // namespace transport
