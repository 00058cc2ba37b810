#pragma once

#include "EmulatorServer.h"

// A Dropbox API v2 emulator on a free loopback port: the RPC and content routes the client uses,
// the OAuth refresh grant and the raw-content host of shared links, with bearer-token checks,
// the real answer and error shapes, upload sessions with offset checks and injectable faults.
// Uploaded bytes go to files under the storage folder, never into memory.
class DropBoxEmulator : public EmulatorServer {
public:
    explicit DropBoxEmulator(const QString& storageDir);

    // Shared links are issued on http://localhost:<port>; the raw bytes are served on any host.
    QString shareHost() const;
    void pointConfigHere() const override;

    enum class Fault {
        TooManyRequests, // 429 with Retry-After
        ServerError,     // 500
        DropConnection,  // the body is read, nothing applied, the connection closes mid-answer
        LoseAnswer,      // the request is applied, then the connection closes mid-answer
        Slow,            // upload bodies are read at slowBytesPerSecond
        ExpireSession,   // the upload session is forgotten before the batch finish
    };
    // The next `times` requests to route ("files/upload_session/append_v2", …) meet the fault.
    void injectFault(const QString& route, Fault fault, int times = 1, int retryAfterSeconds = 0);
    void setSlowBytesPerSecond(qint64 rate);
    // Answers an existing shared link without its metadata (the older error form).
    void setOmitExistingLinkMetadata(bool omit);

    // What the emulator holds and saw.
    QString storedFile(const QString& remotePath) const; // local file with the bytes, or empty
    // requests(): "route" or "route offset=N".

private:
    struct State;
    State* d; // kept by EmulatorServer
};
