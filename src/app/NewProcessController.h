#pragma once

#include "app/HostingBackend.h"
#include "app/ProcessState.h"
#include "app/StatusSink.h"
#include "backend/records/PackageRecord.h"
#include "inspect/Preflight.h"
#include "storage/ClientManager.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Inspector;

// One hosting job for an iOS package: inspection and preflight, application folder, job folder,
// package upload and link, manifest upload and link, icon, QR image, registration with the
// backend. Strictly one step after another, each announced on the status sink before it starts.
//
// Once the job has ended (completed, failed or cancelled) every late callback of a storage
// client, the inspector or the backend is ignored: nothing more is shown, uploaded or
// registered.
class NewProcessController : public QObject {
    Q_OBJECT
public:
    using ClientFactory = std::function<std::unique_ptr<ClientManager>()>;

    NewProcessController(const QUrl& url, StatusSink& view, QObject* parent = nullptr);
    ~NewProcessController() override;

    // Seams: the storage clients (default makeStorageClient), the backend, the clock, and the
    // delays of the cancel texts (2 s, then 5 s).
    void setClientFactory(ClientFactory factory) { m_makeClient = std::move(factory); }
    void setBackend(std::shared_ptr<HostingBackend> backend) { m_backend = std::move(backend); }
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    void setCancelDelays(int cancelledTextMs, int dismissMs);
    // Publish a package the preflight calls uninstallable all the same ("--force").
    void setAllowBlocking(bool allow) { m_allowBlocking = allow; }
    // The package was inspected already (by the caller, before anything else): the job uses
    // this result instead of inspecting again.
    void useInspection(const PackageRecord& record, const Preflight& preflight);

    // The view has loaded: the first status, then the package upload.
    void start();

    void leftAction();   // "Copy to Clipboard"
    void rightAction();  // "Go to home"
    void cancelAction(); // "Cancel"

    const QUrl& URL() const { return m_url; }
    ProcessState state() const { return m_state; }
    // The title of the step that runs (or ran last before the job ended).
    QString stepTitle() const { return m_stepTitle; }
    // The reason shown with "Error" when the job failed.
    const QString& failureReason() const { return m_failureReason; }
    // Size of the file the running upload sends, for transfer rates.
    qint64 uploadSize() const { return m_uploadSize; }

    // What the job produced so far.
    struct Outcome {
        QString packageLink;
        QString manifestLink; // iOS
        QString installUrl;
        QString iconLink; // empty when no icon was uploaded
        QString qrImageLink;
        QString appId;
        QString qrLink; // what the QR image encodes
        QString resultLink;
        PackageRecord record;
        Preflight preflight;
        std::optional<QImage> qrImage;
    };
    const Outcome& outcome() const { return m_outcome; }

signals:
    // Completed, failed, or cancelled (at the cancel itself, not when the texts end).
    void ended(ProcessState state);

protected:
    virtual QString packageExtension() const { return QStringLiteral(".ipa"); }
    virtual QString newAppId() const;
    // What follows the package link: manifest, icon, registration.
    virtual void continueWithPackageLink(const QString& packageLink);
    virtual Inspector* makeInspector() const;

    // Steps.
    void uploadPackage(std::function<void(const QString& packageLink)> completion);
    void
    prepareManifest(const QString& packageLink,
                    std::function<void(const QString& installUrl, const PackageRecord& record)> completion);
    // The inspection runs first, before anything reaches the storage, so that a package that
    // cannot install stops the job while nothing is half-uploaded.
    void inspect(std::function<void()> then);
    // Shows the inspected record (and the preflight's warnings) and passes it on.
    void showInspection(std::function<void(const PackageRecord& record)> then);
    void uploadIcon(const PackageRecord& record, std::function<void(const PackageRecord&)> then);
    void hostApp(const QString& installUrl, const PackageRecord& record,
                 std::function<void(const QString& resultLink)> completion);
    void complete(const QString& link);

    void setStatus(const QString& title, const QString& detail, ProcessState state);
    // The error handler: "Error", the reason, failed.
    void fail(const QString& reason);
    bool hasEnded() const { return m_ended; }
    // A new storage client, owned by the job and the one cancel reaches from now on.
    ClientManager* newClient();
    ClientManager::Progress progress();
    QDateTime now() const { return m_now(); }

private:
    void registerApp(const QString& installUrl, const PackageRecord& record,
                     std::function<void(const QString&)> completion);
    void endWith(ProcessState state);
    // "\n\n" and the preflight's blocking and warning messages, one a line; "" without any.
    QString preflightNotes() const;
    void stopInspector();

    QUrl m_url;
    StatusSink& m_view;
    ClientFactory m_makeClient;
    std::shared_ptr<HostingBackend> m_backend;
    std::function<QDateTime()> m_now;
    int m_cancelledTextMs = 2000;
    int m_dismissMs = 5000;

    std::vector<std::unique_ptr<ClientManager>> m_clients;
    ClientManager* m_currentClient = nullptr;
    QPointer<Inspector> m_inspector;
    ProcessState m_state = ProcessState::preparing;
    QString m_stepTitle;
    QString m_failureReason;
    qint64 m_uploadSize = 0;
    bool m_started = false;
    bool m_ended = false;
    bool m_inspected = false;
    bool m_allowBlocking = false;
    Outcome m_outcome;
};
