#pragma once

#include "app/HostingBackend.h"
#include "app/ProcessState.h"
#include "app/StatusSink.h"
#include "inspect/Preflight.h"
#include "records/PackageRecord.h"
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
    using InspectorFactory = std::function<Inspector*()>;

    NewProcessController(const QUrl& url, StatusSink& view, QObject* parent = nullptr);
    ~NewProcessController() override;

    // Seams: the storage clients (default makeStorageClient), the package inspector (ParseIPA or
    // ParseAPK), the backend, the clock, and the delays of the cancel texts (2 s, then 5 s).
    void setClientFactory(ClientFactory factory) { m_makeClient = std::move(factory); }
    void setInspectorFactory(InspectorFactory factory) { m_kind.inspector = std::move(factory); }
    const InspectorFactory& inspectorFactory() const { return m_kind.inspector; }
    void setBackend(std::shared_ptr<HostingBackend> backend) { m_backend = std::move(backend); }
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    void setCancelDelays(int cancelledTextMs, int dismissMs);
    // Publish a package the preflight calls uninstallable all the same ("--force").
    void setAllowBlocking(bool allow) { m_allowBlocking = allow; }
    // The release notes the app is registered with ("" for none).
    void setNotes(const QString& notes) { m_notes = notes; }
    // The package was inspected already (by the caller, before anything else): the job uses
    // this result instead of inspecting again.
    void useInspection(const PackageRecord& record, const Preflight& preflight);

    // The view has loaded: the first status, then the steps.
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
    // Size and remote file name of what the running upload sends, for transfer rates.
    qint64 uploadSize() const { return m_uploadSize; }
    QString uploadName() const { return m_uploadName; }

    // What the job produced so far.
    struct Outcome {
        // The package's file name without its extension, the title of the job's notifications,
        // known from start(); the job folder "/Vantry/<name>_<time stamp>", once the application
        // folder exists.
        QString currentFileName;
        QString appFolderPath;
        QString packageLink;
        QString manifestLink; // iOS
        QString installUrl;
        QString iconLink; // empty when no icon was uploaded
        QString qrImageLink;
        QString appId;
        QString qrLink;       // what the QR image encodes
        QString resultLink;   // the backend's link, what "Copy to Clipboard" copies
        QString latestLink;   // the stable link of the app's builds; empty when the backend gave none
        PackageRecord record; // as inspected, then with the icon and QR image links
        Preflight preflight;
        std::optional<QImage> qrImage;
    };
    const Outcome& outcome() const { return m_outcome; }

signals:
    // Completed, failed, or cancelled (at the cancel itself, not when the texts end).
    void ended(ProcessState state);

protected:
    using Next = std::function<void()>;
    // One step: announces itself, does its work and calls next once when the following step
    // may start. A failing step calls fail() instead.
    using Step = void (NewProcessController::*)(const Next& next);
    // What sets the two jobs apart.
    struct Kind {
        QString extension;   // ".ipa", removed from the job's name
        QString appIdSuffix; // after the ten random characters
        InspectorFactory inspector;
        std::vector<Step> steps;
    };
    NewProcessController(Kind kind, const QUrl& url, StatusSink& view, QObject* parent);

    // The steps the jobs are made of.
    void inspect(const Next& next); // unless useInspection() came first
    void checkPreflight(const Next& next);
    void createFolders(const Next& next);
    void uploadPackage(const Next& next);
    void showInspection(const Next& next);
    void uploadManifest(const Next& next);         // iOS: the install URL from the manifest's link
    void installFromPackageLink(const Next& next); // Android: the package link is the install URL
    void uploadIcon(const Next& next);
    void hostApp(const Next& next); // the app id and its QR image
    void registerApp(const Next& next);
    void complete(const Next& next);

private:
    static Kind iosJob();
    void runStep(std::size_t index);

    // A callback of a storage client, the inspector or the backend that does nothing once the
    // job has ended or is gone: the one place where late answers are dropped.
    template <class F> auto live(F fn) {
        return [self = QPointer<NewProcessController>(this), fn = std::move(fn)](auto&&... args) {
            if (self && !self->m_ended)
                fn(std::forward<decltype(args)>(args)...);
        };
    }

    struct StepText {
        QString title;
        QString detail;
        ProcessState state;
    };
    // The package keeps its own path; the files the job generates go to the lowercased path
    // and are linked by the original one (the providers match both alike).
    struct RemoteFile {
        QString uploadPath;
        QString linkPath;
    };
    RemoteFile generatedFile(const QString& name) const;
    static StepText finishing();
    // On the running client: uploads localPath, shows linking, asks for the link. Ends once:
    // onLink, or onFailure (by default the job fails).
    void uploadAndShare(const QString& localPath, const RemoteFile& remote, const StepText& linking,
                        std::function<void(const QString& link)> onLink,
                        ClientManager::Failure onFailure = {});

    void setStatus(const QString& title, const QString& detail, ProcessState state);
    // The error handler: "Error", the reason, failed.
    void fail(const QString& reason);
    void endWith(ProcessState state);
    // A new storage client, owned by the job and the one cancel reaches from now on.
    ClientManager* newClient();
    ClientManager::Progress progress();
    QDateTime now() const { return m_now(); }
    // "\n\n" and the preflight's blocking and warning messages, one a line; "" without any.
    QString preflightNotes() const;
    void stopInspector();

    Kind m_kind;
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
    QString m_uploadName;
    bool m_started = false;
    bool m_ended = false;
    bool m_inspected = false;
    bool m_allowBlocking = false;
    QString m_notes;
    Outcome m_outcome;
};
