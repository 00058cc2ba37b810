#pragma once

#include <QString>
#include <QStringList>

#include <memory>

struct EmulatorCore; // the HTTP side, only seen by the emulators' sources (EmulatorCore.h)

// What every provider emulator shares: an HTTP server on a free loopback port, the access tokens
// it accepts, the refresh token its grant endpoint honours, and the log of requests it saw.
class EmulatorServer {
public:
    virtual ~EmulatorServer();
    EmulatorServer(const EmulatorServer&) = delete;
    EmulatorServer& operator=(const EmulatorServer&) = delete;

    bool start();
    void stop();
    quint16 port() const;
    QString baseUrl() const; // http://127.0.0.1:<port>
    // Points this provider's configuration keys at the emulator.
    virtual void pointConfigHere() const = 0;

    // An expired token is refused with the provider's "expired" answer where it has one.
    void addAccessToken(const QString& token, bool expired = false);
    void setRefreshToken(const QString& token);
    int refreshGrants() const; // refresh-grant requests, answered or refused

    // Cuts the connection of the upload body during which `afterBytes` more body bytes have
    // arrived, as a dropped network would; `times` cuts in a row: each further one meets the first
    // body sent after the cut before. What a cut body delivered is kept as each provider keeps a
    // part of a dropped request.
    void cutUploads(qint64 afterBytes, int times = 1);

    QStringList requests() const;         // in arrival order
    int count(const QString& word) const; // requests with this word in their log line
    qint64 bytesReceived() const;         // request bodies, counted as they arrive

protected:
    explicit EmulatorServer(const QString& storageDir);
    EmulatorCore& core() const { return *m_core; }
    // Keeps an emulator's state until the server has stopped (its handlers use it till then) and
    // sets up its routes.
    template <class State> State* keep(State* state) {
        m_state.reset(state);
        state->routes();
        return state;
    }

private:
    std::unique_ptr<EmulatorCore> m_core;
    std::shared_ptr<void> m_state;
};
