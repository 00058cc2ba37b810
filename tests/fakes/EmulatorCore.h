#pragma once

// The HTTP plumbing behind EmulatorServer; included only by the emulators' sources.

#include "Cuts.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace emu {
using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

QString randomId(int n, const char* alphabet = "abcdefghijklmnopqrstuvwxyz0123456789");
void sendJson(Response& res, int status, const QJsonObject& body, const char* type);
QJsonObject parseJson(const std::string& text);
// An answer written out as JSON text, with %1, %2… standing for `values` (as JSON values).
QJsonObject fillJson(const char* text, const QJsonArray& values);
template <class... Values> QJsonObject json(const char* text, const Values&... values) {
    return fillJson(text, QJsonArray{QJsonValue(values)...});
}
// A parameter of the query string or of a form body.
QString param(const Request& req, const char* name);
// Headers go out, then the body they promise never comes.
void dropAnswer(Response& res);

// Faults queued per key (route, request kind…): each is met `times` times, in the order queued.
template <class Fault> class FaultQueue {
public:
    struct Entry {
        Fault fault;
        int times;
        int value; // e.g. Retry-After seconds
    };
    void push(const QString& key, Fault fault, int times, int value = 0) {
        m_queues[key].push_back({fault, times, value});
    }
    std::optional<Entry> take(const QString& key) {
        auto it = m_queues.find(key);
        if (it == m_queues.end() || it->second.empty())
            return std::nullopt;
        const Entry out = it->second.front();
        if (--it->second.front().times <= 0)
            it->second.erase(it->second.begin());
        return out;
    }

private:
    std::map<QString, std::vector<Entry>> m_queues;
};
} // namespace emu

struct EmulatorCore {
    QString root;
    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::set<QString> tokens;
    std::set<QString> expiredTokens;
    QString refreshToken;
    int refreshGrants = 0;
    QStringList requests;
    int blobs = 0;
    Cuts cuts; // counts the request bodies' bytes as they arrive

    // Runs `f` under the mutex: the emulators' setters and readers.
    template <class F> auto locked(F f) const {
        std::lock_guard lock(mutex);
        return f();
    }

    QString base() const;
    // The base the client reached this server under (its Host header): a link in front of the
    // emulator stays in the way of the URLs the emulator hands out.
    QString base(const emu::Request& req) const;
    // A fresh file name under the storage folder; the caller holds the mutex.
    QString newBlob(const QString& prefix);
    // The token after "<scheme> " in the Authorization header, or empty.
    static QString credential(const emu::Request& req, const char* scheme);
    // The caller holds the mutex.
    bool accepts(const QString& token) const { return tokens.count(token) > 0; }
    // Counts the grant; true when it is a refresh grant with the current refresh token (form body
    // or query). The caller holds the mutex.
    bool refreshGrantMatches(const emu::Request& req);
    // A new access token the API accepts from now on; the caller holds the mutex.
    QString issueToken(const QString& prefix, int length);
    // Answers with the bytes of a stored file.
    static void serveFile(emu::Response& res, const QString& path);
    // Streams a request body into `file` (appending, or nothing when empty); false when the client
    // went away, the file could not be written or the body was cut (cutUploads). at >= 0 writes at
    // that position of the file instead of appending; *length gets the body's size so far.
    bool streamBody(const emu::ContentReader& reader, const QString& file, bool append = false,
                    qint64 at = -1, qint64* length = nullptr);
};
