#pragma once

#include "EmulatorServer.h"

#include <QList>

// A Zoho WorkDrive emulator on a free loopback port: users/me with its relationship links, the
// enterprise → current user → private space chain, folder listing and creation, the stream
// upload service with uploadprogress, external links and their direct downloads, and the Zoho
// accounts token endpoint; Zoho-oauthtoken checks, JSON:API error shapes and injectable faults.
// Uploaded bytes go to files under the storage folder.
class WorkDriveEmulator : public EmulatorServer {
public:
    explicit WorkDriveEmulator(const QString& storageDir);
    void pointConfigHere() const override;

    static inline const QString userId = QStringLiteral("747938014");
    static inline const QString privateSpace = QStringLiteral("ly9zme5724e019a8e4cb48632945b1296be0a");

    void setTokenAnswersWithoutToken(bool on);
    void setEdition(const QString& edition);
    QString addFolder(const QString& name, const QString& parent = privateSpace);

    enum class Fault {
        TechnicalError, // folder creation answers errors [{"id": "R002"}]
        DropUpload,     // the upload connection closes before an answer
        NoResourceId,   // the upload result carries no RESOURCE_ID
        LinkWithoutId,  // the link answer has no attributes.id (only the link URL)
        BrokenChain,    // the enterprise step answers without relationships
    };
    void injectFault(Fault fault, int times = 1);
    // The next API request whose "METHOD /path" starts with `request` gets this answer instead.
    void answerOnce(const QString& request, int status, const QByteArray& body);

    struct Upload {
        QString resourceId, name, parent, blob;
        QStringList headers; // "name: value" of the ten upload headers, as received
    };
    QList<Upload> uploads() const;
    std::pair<QString, QString> folder(const QString& id) const; // (name, parent), empty when unknown
    // requests(): "METHOD /path".

private:
    struct State;
    State* d; // kept by EmulatorServer
};
