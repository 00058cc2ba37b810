#include "app/NewProcessController.h"

#include "app/JobFormat.h"
#include "app/JobValues.h"
#include "backend/records/Zapp.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/RandomString.h"
#include "core/WorkingFolder.h"
#include "inspect/ParseIPA.h"
#include "manifest/PlistManager.h"
#include "qrcode/QRCodeDocument.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

namespace {

// PNG bytes of an image, or nothing.
std::optional<QByteArray> pngData(const QImage& image) {
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    return bytes;
}

// Writes bytes to name in the working folder through a temporary file; the path, or nothing.
std::optional<QString> writeToWorkingFolder(const QString& name, const QByteArray& bytes) {
    const QString path = workingFolder() + QLatin1Char('/') + name;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return std::nullopt;
    return path;
}

// Passes a record on once, whichever of completion and failure comes first.
using PassOn = std::function<void(const PackageRecord&)>;
PassOn once(PassOn then) {
    auto passed = std::make_shared<bool>(false);
    return [passed, then = std::move(then)](const PackageRecord& record) {
        if (*passed)
            return;
        *passed = true;
        then(record);
    };
}

} // namespace

NewProcessController::NewProcessController(const QUrl& url, StatusSink& view, QObject* parent)
    : QObject(parent), m_url(url), m_view(view), m_makeClient([] { return makeStorageClient(); }),
      m_backend(std::make_shared<ZelkoHostingBackend>()), m_now([] { return QDateTime::currentDateTime(); }) {
}

NewProcessController::~NewProcessController() {
    stopInspector();
    if (m_backend)
        m_backend->cancel();
}

void NewProcessController::setCancelDelays(int cancelledTextMs, int dismissMs) {
    m_cancelledTextMs = cancelledTextMs;
    m_dismissMs = dismissMs;
}

QString NewProcessController::newAppId() const {
    return randomString(JobFormat::appIdLength);
}

Inspector* NewProcessController::makeInspector() const {
    return new ParseIPA;
}

void NewProcessController::start() {
    if (m_started)
        return;
    m_started = true;
    setStatus(QStringLiteral("Making your project ready"), QStringLiteral("This takes few minutes"),
              ProcessState::preparing);
    const auto upload = [this] {
        if (m_outcome.preflight.blocking() && !m_allowBlocking) {
            fail(m_outcome.preflight.messages(PreflightFinding::Verdict::blocking).join(QLatin1Char(' ')));
            return;
        }
        uploadPackage([this](const QString& packageLink) { continueWithPackageLink(packageLink); });
    };
    if (m_inspected)
        upload();
    else
        inspect(upload);
}

void NewProcessController::useInspection(const PackageRecord& record, const Preflight& preflight) {
    m_outcome.record = record;
    m_outcome.preflight = preflight;
    m_inspected = true;
}

void NewProcessController::continueWithPackageLink(const QString& packageLink) {
    prepareManifest(packageLink, [this](const QString& installUrl, const PackageRecord& record) {
        uploadIcon(record, [this, installUrl](const PackageRecord& withIcon) {
            hostApp(installUrl, withIcon, [this](const QString& link) { complete(link); });
        });
    });
}

void NewProcessController::setStatus(const QString& title, const QString& detail, ProcessState state) {
    m_state = state;
    if (isRunning(state))
        m_stepTitle = title;
    m_view.setStatus(title, detail, state);
    switch (state) {
    case ProcessState::completed:
        m_view.postNotification(currentFileName(), QStringLiteral("Task Completed"));
        break;
    case ProcessState::failed:
        m_view.postNotification(currentFileName(), QStringLiteral("Task done with error"));
        break;
    case ProcessState::cancelled:
        // A failure to delete is of no consequence: the next inspection empties it anyway.
        QDir(workingFolder()).removeRecursively();
        break;
    default:
        break;
    }
}

void NewProcessController::endWith(ProcessState state) {
    m_ended = true;
    m_currentClient = nullptr;
    emit ended(state);
}

void NewProcessController::fail(const QString& reason) {
    if (m_ended)
        return;
    m_ended = true;
    m_failureReason = reason;
    logLine(QStringLiteral("Hosting job failed in \"%1\": %2").arg(m_stepTitle, reason));
    setStatus(QStringLiteral("Error"), reason, ProcessState::failed);
    endWith(ProcessState::failed);
}

ClientManager* NewProcessController::newClient() {
    m_clients.push_back(m_makeClient());
    m_currentClient = m_clients.back().get();
    return m_currentClient;
}

ClientManager::Progress NewProcessController::progress() {
    QPointer<NewProcessController> self(this);
    return [self](double fraction) {
        if (!self || self->m_ended)
            return;
        self->m_view.setProgress(JobFormat::percentageText(fraction), fraction * 100);
    };
}

void NewProcessController::uploadPackage(std::function<void(const QString&)> completion) {
    const QString name = JobFormat::fileName(m_url, packageExtension(), now());
    ClientManager* client = newClient();
    setStatus(QStringLiteral("Setting basic configuration"),
              QStringLiteral("This takes few minutes. \n current file name ") + name,
              ProcessState::preparing);
    client->createFolder(
        QLatin1Char('/') + JobFormat::applicationFolderName, [this, client, name, completion](bool) {
            if (m_ended)
                return;
            currentFileName() = name;
            setStatus(QStringLiteral("Setting basic configuration"),
                      QStringLiteral("Current file name -  ") + name, ProcessState::preparing);
            appFolderPath() = QLatin1Char('/') + JobFormat::applicationFolderName + QLatin1Char('/') + name +
                              QLatin1Char('_') + now().toString(JobFormat::jobFolderTimeFormat);
            client->createFolder(appFolderPath(), [this, client, completion](bool alreadyExisted) {
                if (m_ended)
                    return;
                setStatus(alreadyExisted ? QStringLiteral("Already Created") : QStringLiteral("Created"),
                          QStringLiteral("There is a folder already been created!"), ProcessState::preparing);
                const QString localPath = JobFormat::encodedLocalPath(m_url);
                const QString remotePath = appFolderPath() + QLatin1Char('/') + m_url.fileName();
                setStatus(QStringLiteral("Processing your ") + packageExtension(),
                          QStringLiteral("This takes few minutes."), ProcessState::transferring);
                m_uploadSize = QFileInfo(m_url.toLocalFile()).size();
                client->uploadFile(
                    localPath, remotePath,
                    [this, client, remotePath, completion](bool) {
                        if (m_ended)
                            return;
                        setStatus(QStringLiteral("Creating url for the file"),
                                  QStringLiteral("This takes few minutes."), ProcessState::transferring);
                        client->shareLink(remotePath, [this, completion](const QString& link) {
                            if (m_ended)
                                return;
                            m_outcome.packageLink = link;
                            completion(link);
                        });
                    },
                    progress());
            });
        });
    client->onFailure = [this](const QString& reason) { fail(reason); };
}

void NewProcessController::inspect(std::function<void()> then) {
    // No storage request runs while the package is inspected.
    m_currentClient = nullptr;
    Inspector* inspector = makeInspector();
    m_inspector = inspector;
    inspector->inspect(m_url);
    inspector->onComplete = [this, inspector, then](const PackageRecord& record) {
        m_inspector = nullptr;
        if (m_ended)
            return;
        useInspection(record, inspector->preflight());
        then();
    };
    inspector->onFailure = [this](const QString& message) {
        m_inspector = nullptr;
        fail(message);
    };
}

QString NewProcessController::preflightNotes() const {
    // What a tester should know before the link goes out; blocking findings too when forced.
    const QStringList notes = m_outcome.preflight.messages(PreflightFinding::Verdict::blocking) +
                              m_outcome.preflight.messages(PreflightFinding::Verdict::warning);
    return notes.isEmpty() ? QString() : QStringLiteral("\n\n") + notes.join(QLatin1Char('\n'));
}

void NewProcessController::showInspection(std::function<void(const PackageRecord&)> then) {
    const PackageRecord& record = m_outcome.record;
    const QString detail = QStringLiteral("project - ") + record.name + QStringLiteral("\nBundleID - ") +
                           record.bundleID + QStringLiteral("\nversion - ") + record.version +
                           preflightNotes();
    setStatus(QStringLiteral("Creating export plist configuration"), detail, ProcessState::processing);
    then(record);
}

void NewProcessController::stopInspector() {
    if (Inspector* inspector = m_inspector) {
        m_inspector = nullptr;
        inspector->onComplete = nullptr;
        inspector->onFailure = nullptr;
        // Its child processes end with it, so nothing writes into the working folder afterwards.
        delete inspector;
    }
}

void NewProcessController::prepareManifest(
    const QString& packageLink, std::function<void(const QString&, const PackageRecord&)> completion) {
    setStatus(QStringLiteral("Creating export plist configuration"), QString(), ProcessState::processing);
    showInspection([this, packageLink, completion](const PackageRecord& record) {
        const std::optional<QString> manifest =
            PlistManager::writeManifest(packageLink, record.name, record.version, record.bundleID);
        if (!manifest) {
            fail(QStringLiteral("Couldn't write to file"));
            return;
        }
        const QString linkPath = appFolderPath() + QLatin1Char('/') + JobFormat::manifestFileName;
        const QString remotePath = linkPath.toLower();
        ClientManager* client = newClient();
        setStatus(QStringLiteral("Uploading configurations"), QString(), ProcessState::transferring);
        m_uploadSize = QFileInfo(*manifest).size();
        client->uploadFile(
            *manifest, remotePath,
            [this, client, linkPath, record, completion](bool) {
                if (m_ended)
                    return;
                setStatus(QStringLiteral("Creating URL"), QStringLiteral("This takes few minutes."),
                          ProcessState::processing);
                // The upload went to the lowercased path; the provider matches both alike.
                client->shareLink(linkPath, [this, record, completion](const QString& link) {
                    if (m_ended)
                        return;
                    m_outcome.manifestLink = link;
                    completion(JobFormat::installUrl(link), record);
                });
            },
            progress());
        client->onFailure = [this](const QString& reason) { fail(reason); };
    });
}

void NewProcessController::uploadIcon(const PackageRecord& record,
                                      std::function<void(const PackageRecord&)> then) {
    const PassOn passOn = once([this, then](const PackageRecord& r) {
        if (!m_ended)
            then(r);
    });
    if (record.icon.isEmpty() || record.icon.contains(QLatin1String("data:image"))) {
        passOn(record);
        return;
    }
    const QString linkPath = appFolderPath() + QLatin1Char('/') + JobFormat::iconFileName;
    const QString remotePath = linkPath.toLower();
    ClientManager* client = newClient();
    const std::optional<QByteArray> png = pngData(QImage(record.icon));
    const std::optional<QString> local =
        png ? writeToWorkingFolder(JobFormat::iconFileName, *png) : std::nullopt;
    if (!local) {
        logLine(QStringLiteral("The icon could not be prepared: ") + record.icon);
        passOn(record);
        return;
    }
    m_uploadSize = png->size();
    client->uploadFile(
        *local, remotePath,
        [this, client, linkPath, record, passOn](bool) {
            if (m_ended)
                return;
            setStatus(QStringLiteral("Finalising Details"), QStringLiteral("This takes few seconds."),
                      ProcessState::processing);
            client->shareLink(linkPath, [this, record, passOn](const QString& link) {
                PackageRecord withLink = record;
                withLink.icon = link;
                m_outcome.iconLink = link;
                passOn(withLink);
            });
        },
        progress());
    // An icon that does not make it never stops the job.
    client->onFailure = [record, passOn](const QString& reason) {
        logLine(QStringLiteral("The icon was not uploaded: ") + reason);
        PackageRecord withoutIcon = record;
        withoutIcon.icon.clear();
        passOn(withoutIcon);
    };
}

void NewProcessController::hostApp(const QString& installUrl, const PackageRecord& record,
                                   std::function<void(const QString&)> completion) {
    setStatus(QStringLiteral("Hosting the app"), QString(), ProcessState::hosting);
    m_outcome.installUrl = installUrl;
    m_outcome.appId = newAppId();
    m_outcome.qrLink = JobFormat::productionBaseUrl() + m_outcome.appId;
    const PassOn registration = once([this, installUrl, completion](const PackageRecord& r) {
        if (!m_ended)
            registerApp(installUrl, r, completion);
    });
    m_outcome.qrImage =
        QRCodeDocument::forLink(m_outcome.qrLink).imageWithDimension(JobFormat::qrImageSize, 1);
    if (!m_outcome.qrImage) {
        registration(record);
        return;
    }
    const std::optional<QByteArray> png = pngData(*m_outcome.qrImage);
    const std::optional<QString> local =
        png ? writeToWorkingFolder(JobFormat::qrFileName, *png) : std::nullopt;
    if (!local) {
        logLine(QStringLiteral("The QR image could not be written"));
        registration(record);
        return;
    }
    const QString linkPath = appFolderPath() + QLatin1Char('/') + JobFormat::qrFileName;
    ClientManager* client = newClient();
    m_uploadSize = png->size();
    client->uploadFile(
        *local, linkPath.toLower(),
        [this, client, linkPath, record, registration](bool) {
            if (m_ended)
                return;
            setStatus(QStringLiteral("Finalising Details"), QStringLiteral("This takes few seconds."),
                      ProcessState::processing);
            client->shareLink(linkPath, [this, record, registration](const QString& link) {
                PackageRecord withQr = record;
                withQr.QR = link;
                m_outcome.qrImageLink = link;
                registration(withQr);
            });
        },
        progress());
    client->onFailure = [record, registration](const QString& reason) {
        logLine(QStringLiteral("The QR image was not uploaded: ") + reason);
        registration(record);
    };
}

void NewProcessController::registerApp(const QString& installUrl, const PackageRecord& record,
                                       std::function<void(const QString&)> completion) {
    Zapp app(record, now());
    app.appurl = installUrl;
    app.appid = m_outcome.appId;
    app.profileKind = m_outcome.preflight.recordProfileKind();
    app.profileExpiry = m_outcome.preflight.recordProfileExpiry();
    app.provisionedDevices = m_outcome.preflight.recordProvisionedDevices();
    m_outcome.record = record;
    m_currentClient = nullptr;
    m_backend->createApp(
        app,
        [this, completion](const QString& link) {
            if (m_ended)
                return;
            resultLink() = link;
            m_outcome.resultLink = link;
            setStatus(QStringLiteral("Hosting the app"), QStringLiteral("Use this url - \n") + link,
                      ProcessState::hosting);
            completion(link);
        },
        [this](const QString& reason) { fail(reason); });
}

void NewProcessController::complete(const QString& link) {
    if (m_ended)
        return;
    m_ended = true;
    // The warnings stay on the last view too, where the user copies the link to hand out.
    setStatus(QStringLiteral("Process Complete"),
              QStringLiteral("The app is hosted here\n") + link + preflightNotes(), ProcessState::completed);
    if (m_outcome.qrImage)
        m_view.setResultImage(*m_outcome.qrImage);
    endWith(ProcessState::completed);
}

void NewProcessController::leftAction() {
    m_view.copyToClipboard(resultLink());
}

void NewProcessController::rightAction() {
    NotificationCenter::instance().post(QStringLiteral("reload"));
    m_view.dismiss();
}

void NewProcessController::cancelAction() {
    if (!m_started || m_ended)
        return;
    m_ended = true;
    if (m_currentClient)
        m_currentClient->cancelTask();
    stopInspector();
    m_backend->cancel();
    m_view.postNotification(currentFileName(), QStringLiteral("Task Cancelled"));
    setStatus(QStringLiteral("Cancelling the task"), QString(), ProcessState::cancelled);
    endWith(ProcessState::cancelled);
    QTimer::singleShot(m_cancelledTextMs, Qt::PreciseTimer, this, [this] {
        setStatus(QStringLiteral("Task Cancelled"),
                  QStringLiteral(
                      "\nThis task given to me has been cancelled :/ \nPress finish and give me one more"),
                  ProcessState::cancelled);
        QTimer::singleShot(m_dismissMs, Qt::PreciseTimer, this, [this] { m_view.dismiss(); });
    });
}
