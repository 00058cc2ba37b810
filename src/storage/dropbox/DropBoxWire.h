#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "storage/AuthorizedCall.h"

// Wire details of Dropbox's HTTP API shared by the client's operations.
namespace DropBoxWire {

// Compact JSON fit for the Dropbox-API-Arg header: every character 0x7F and above written as
// \uXXXX (surrogate pairs beyond the BMP), since header values must be ASCII.
QByteArray headerSafeJson(const QJsonObject& arg);

// CommitInfo of every upload: overwrite, autorename, not muted, no strict conflict.
QJsonObject commitInfo(const QString& remotePath);

// A shared link turned into one that serves the raw bytes: on shareHost (host or host:port) the
// host becomes directHost and the "dl" parameter goes; every other parameter (rlkey) stays.
// Links on other hosts come back unchanged.
QString directLink(const QString& sharedLink, const QString& shareHost, const QString& directHost);

// A local path as the hosting job hands it over: percent-encoding removed once, then any
// remaining "%20" (a doubly encoded blank) made a blank.
QString localPath(const QString& path);

// Requests to an RPC route (JSON body; "null" for routes without argument) and to a content
// route whose body is a range of a file.
CallRequest rpc(const QString& route, const QByteArray& json);
CallRequest content(const QString& route, const QJsonObject& arg, const QString& filePath, qint64 offset,
                    qint64 length);

} // namespace DropBoxWire
