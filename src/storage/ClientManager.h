#pragma once

#include "records/ZUser.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// One storage provider behind the five operations a hosting job needs. Base implementations do
// nothing and never call back; each provider client overrides all of them.
//
// Every operation of a provider client ends exactly once: its completion or onFailure (one
// sentence a user understands), unless cancelTask came first, after which nothing is called.
// Failures found before any request is sent arrive from the event loop, because callers set
// onFailure right after starting an operation.
class AuthorizedCall;
class FileUpload;

class ClientManager : public QObject {
    Q_OBJECT
public:
    using FolderCompletion = std::function<void(bool alreadyExisted)>;
    // notStored: the provider answered but did not keep the file (Drive refused it, Dropbox lost the
    // upload session at the commit); the hosting job goes on either way.
    using UploadCompletion = std::function<void(bool notStored)>;
    using Progress = std::function<void(double fraction)>;
    using LinkCompletion = std::function<void(const QString& link)>;
    using UserCompletion = std::function<void(const ZUser& user)>;
    using Failure = std::function<void(const QString& reason)>;
    using Notice = std::function<void(const QString& text)>;

    explicit ClientManager(QObject* parent = nullptr);
    ~ClientManager() override;

    virtual void createFolder(const QString& path, FolderCompletion completion);
    virtual void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                            Progress progress);
    virtual void shareLink(const QString& remotePath, LinkCompletion completion);
    virtual void getUserData(UserCompletion completion);
    virtual void cancelTask();

    // Human-readable failure reasons; unset on creation, set by the caller after starting work.
    Failure onFailure;
    // One sentence on the running operation that changes nothing of its ending, such as an upload
    // resumed after its connection dropped; unset on creation.
    Notice onNotice;

protected:
    void fail(const QString& reason) const;
    // fail() from the event loop, unless cancelTask drops it first (dropPendingFailures).
    void failSoon(const QString& reason);
    void dropPendingFailures() { ++m_generation; }
    // What cancelTask does for a client whose work runs as an AuthorizedCall or a FileUpload: drops
    // pending failures, cancels both, and lets the upload go.
    void stopRequests(AuthorizedCall* call, FileUpload* upload);
    // What an upload says of itself, passed on to onNotice as it is set at the time.
    Notice relayNotices();

private:
    int m_generation = 0;
};

enum class StorageProvider { Drive, Dropbox, Zoho, SelfHosted };

// The provider the user signed in with, from the "isDrive", "isDropBox", "isSelfHosted" flags in
// that order; WorkDrive when none is set ("isZoho" is only read at start-up).
StorageProvider selectedProvider();
// What the command line publishes to: the selected provider once any account signed in, else
// the self-hosted server (the local one needs no account).
StorageProvider publishingProvider();

// A new, unconfigured client of the selected provider.
std::unique_ptr<ClientManager> makeStorageClient();
std::unique_ptr<ClientManager> makeStorageClient(StorageProvider provider);

// Folder and file identifiers shared by every client instance for the life of the process
// (Drive and WorkDrive address by identifier; a new client continues where the last stopped).
QString& currentFolderId();
QString& lastUploadedFileId();
