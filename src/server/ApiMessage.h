#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// One HTTP request as the handlers see it: no sockets, so handlers are tested directly.
struct ApiRequest {
    QString method;                  // "GET", "POST", …
    QString path;                    // decoded, without the query
    QByteArray target;               // path and query as received (percent-encoded)
    QHash<QString, QString> headers; // names in lower case
    QHash<QString, QString> query;   // decoded query parameters
    QByteArray body;
    QHash<QString, QString> params; // filled by the router from ":name" and "*name" segments
    QString peer;                   // the client's address, for per-address limits

    QString header(const QString& lowerName) const { return headers.value(lowerName); }
};

// A response body handed out in pieces (downloads), so large files never sit in memory.
class BodyWriter {
public:
    virtual ~BodyWriter() = default;
    // The exact number of bytes read() hands out in total.
    virtual uint64_t size() const = 0;
    // Copies the next bytes into buffer: the count, 0 at the end, -1 on failure.
    virtual int64_t read(char* buffer, size_t capacity) = 0;

    // A body that is a region of an open file can be sent by the kernel straight from the page
    // cache (sendfile), skipping read(). The descriptor stays owned by the writer.
    struct FileRegion {
        int fd = -1;
        uint64_t offset = 0;
    };
    virtual std::optional<FileRegion> fileRegion() const { return std::nullopt; }
    // False when read() would have to wait (the bytes come from another server); resume is then
    // called once, from any thread, when it can go on.
    virtual bool ready(std::function<void()> resume) {
        (void)resume;
        return true;
    }
};

struct ApiResponse;

// A request body taken in pieces (uploads). Destroyed without finish(), it drops what it kept:
// the client went away.
class BodyReader {
public:
    virtual ~BodyReader() = default;
    // False stops reading; finish(false) then gives the answer.
    virtual bool write(const char* data, size_t length) = 0;
    // complete: the whole body arrived.
    virtual ApiResponse finish(bool complete) = 0;
    // False when the reader wants no more for now (it is still passing earlier pieces on to
    // another server); resume is then called once, from any thread, when it can take more.
    virtual bool ready(std::function<void()> resume) {
        (void)resume;
        return true;
    }
    // finish() without holding up the caller's thread: done gets the answer, from any thread.
    virtual void finishAsync(bool complete, std::function<void(ApiResponse)> done);
    // A reader that keeps the body in a plain file may let the connection move the remaining
    // bytes there itself with splice(), never through our memory: the descriptor, or -1.
    virtual int spliceTarget(uint64_t remaining) {
        (void)remaining;
        return -1;
    }
    // The connection moved length more bytes into the target, or failed to (written false).
    // False stops reading, as write() does.
    virtual bool spliced(size_t length, bool written) {
        (void)length;
        return written;
    }
};

// One answer: a status and a body with its content type.
struct ApiResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra response headers
    std::shared_ptr<BodyWriter> stream;           // set: the body comes from here instead
    bool closeConnection = false;                 // the connection cannot carry another request

    // {"isSuccess": ok, "response": value}
    static ApiResponse json(int status, bool ok, const QJsonValue& response);
    static ApiResponse success(int status, const QJsonValue& response) {
        return json(status, true, response);
    }
    static ApiResponse failure(int status, const QString& message) { return json(status, false, message); }
    // A plain UTF-8 text answer that no cache keeps (pages' refusals, ACME challenges).
    static ApiResponse text(int status, const QByteArray& body);
    // {"isSuccess": true, "response": <responseJson>}, for answers written without QJsonDocument.
    static ApiResponse successRaw(int status, const QByteArray& responseJson);
    // Appends s as a JSON string literal (quoted, escaped, UTF-8).
    static void appendJsonString(QByteArray& out, const QString& s);
};

inline void BodyReader::finishAsync(bool complete, std::function<void(ApiResponse)> done) {
    done(finish(complete));
}
