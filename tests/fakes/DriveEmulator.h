#pragma once

#include "EmulatorServer.h"

#include <QList>

#include <optional>

// A Google Drive v3 emulator on a free loopback port: files.create (folders), files.list,
// resumable uploads (sessions, 308 with Range, status queries), permissions.create, the
// user-information endpoint and the OAuth refresh grant, with bearer-token checks, Google's error
// shape and injectable faults. Uploaded bytes go to files under the storage folder. Files above
// 1000 bytes get the virus-scan warning page from a download link without "confirm=t" (Google's
// limit is about 100 MB).
class DriveEmulator : public EmulatorServer {
public:
    explicit DriveEmulator(const QString& storageDir);
    void pointConfigHere() const override;

    // A refresh grant answered 200 without an access token.
    void setRefreshWithoutToken(bool on);

    // An item in the listing (folders and files made by tests, in listing order).
    QString addItem(const QString& name, bool folder, const QString& parent = QString());
    // Moves an item to the trash: listed only by a listing without "trashed = false".
    void trash(const QString& id);

    enum class Fault {
        ServerError,   // 503 with Google's error body
        Forbidden,     // 403 storageQuotaExceeded
        ExpireSession, // the upload session is unknown from now on (404)
    };
    // kind: "create", "list", "upload" (session start), "permission", "userinfo", "download", and
    // "chunk" (a piece of the upload: ExpireSession only).
    void injectFault(const QString& kind, Fault fault, int times = 1);

    struct Item {
        QString id, name, mimeType, parent;
        qint64 size = 0;
        QString blob;
        bool anyoneReader = false;
        bool trashed = false;
    };
    std::optional<Item> item(const QString& id) const;
    QList<Item> items() const;
    // requests(): "kind" or "chunk bytes a-b/total".

private:
    struct State;
    State* d; // kept by EmulatorServer
};
