// The steps both hosting jobs are made of; each job's Kind lists its own in order.
#include "app/NewProcessController.h"

#include "app/JobFormat.h"
#include "core/Log.h"
#include "core/RandomString.h"
#include "core/WorkingFolder.h"
#include "inspect/Inspector.h"
#include "manifest/PlistManager.h"
#include "qrcode/QRCodeDocument.h"
#include "records/Zapp.h"

#include <QBuffer>
#include <QSaveFile>

namespace {

// image as the PNG file name in the working folder, written through a temporary file; its path,
// or nothing.
std::optional<QString> writePng(const QString& name, const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    const QString path = workingFolder() + QLatin1Char('/') + name;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return std::nullopt;
    return path;
}

} // namespace

void NewProcessController::inspect(const Next& next) {
    if (m_inspected) {
        next();
        return;
    }
    // No storage request runs while the package is inspected.
    m_currentClient = nullptr;
    Inspector* inspector = m_kind.inspector();
    m_inspector = inspector;
    inspector->inspect(m_url);
    inspector->onComplete = live([this, inspector, next](const PackageRecord& record) {
        useInspection(record, inspector->preflight());
        next();
    });
    inspector->onFailure = live([this](const QString& message) { fail(message); });
}

// The inspection runs first, before anything reaches the storage, so that a package that cannot
// install stops the job while nothing is half-uploaded.
void NewProcessController::checkPreflight(const Next& next) {
    if (m_outcome.preflight.blocking() && !m_allowBlocking) {
        fail(m_outcome.preflight.messages(PreflightFinding::Verdict::blocking).join(QLatin1Char(' ')));
        return;
    }
    next();
}

void NewProcessController::createFolders(const Next& next) {
    const QString name = m_outcome.currentFileName;
    ClientManager* client = newClient();
    setStatus(QStringLiteral("Setting basic configuration"),
              QStringLiteral("This takes few minutes. \n current file name ") + name,
              ProcessState::preparing);
    client->createFolder(
        QLatin1Char('/') + JobFormat::applicationFolderName, live([this, client, name, next](bool) {
            setStatus(QStringLiteral("Setting basic configuration"),
                      QStringLiteral("Current file name -  ") + name, ProcessState::preparing);
            m_outcome.appFolderPath = QLatin1Char('/') + JobFormat::applicationFolderName + QLatin1Char('/') +
                                      name + QLatin1Char('_') +
                                      now().toString(JobFormat::jobFolderTimeFormat);
            client->createFolder(m_outcome.appFolderPath, live([this, next](bool alreadyExisted) {
                                     setStatus(alreadyExisted ? QStringLiteral("Already Created")
                                                              : QStringLiteral("Created"),
                                               QStringLiteral("There is a folder already been created!"),
                                               ProcessState::preparing);
                                     next();
                                 }));
        }));
    client->onFailure = live([this](const QString& reason) { fail(reason); });
}

// On the client that made the folders.
void NewProcessController::uploadPackage(const Next& next) {
    const QString remotePath = m_outcome.appFolderPath + QLatin1Char('/') + m_url.fileName();
    setStatus(QStringLiteral("Processing your ") + m_kind.extension,
              QStringLiteral("This takes few minutes."), ProcessState::transferring);
    uploadAndShare(JobFormat::encodedLocalPath(m_url), {remotePath, remotePath},
                   {QStringLiteral("Creating url for the file"), QStringLiteral("This takes few minutes."),
                    ProcessState::transferring},
                   [this, next](const QString& link) {
                       m_outcome.packageLink = link;
                       next();
                   });
}

void NewProcessController::showInspection(const Next& next) {
    const QString title = QStringLiteral("Creating export plist configuration");
    setStatus(title, QString(), ProcessState::processing);
    const PackageRecord& record = m_outcome.record;
    setStatus(title,
              QStringLiteral("project - ") + record.name + QStringLiteral("\nBundleID - ") + record.bundleID +
                  QStringLiteral("\nversion - ") + record.version + preflightNotes(),
              ProcessState::processing);
    next();
}

void NewProcessController::uploadManifest(const Next& next) {
    const PackageRecord& record = m_outcome.record;
    const std::optional<QString> manifest =
        PlistManager::writeManifest(m_outcome.packageLink, record.name, record.version, record.bundleID);
    if (!manifest) {
        fail(QStringLiteral("Couldn't write to file"));
        return;
    }
    newClient();
    setStatus(QStringLiteral("Uploading configurations"), QString(), ProcessState::transferring);
    uploadAndShare(
        *manifest, generatedFile(JobFormat::manifestFileName),
        {QStringLiteral("Creating URL"), QStringLiteral("This takes few minutes."), ProcessState::processing},
        [this, next](const QString& link) {
            m_outcome.manifestLink = link;
            m_outcome.installUrl = JobFormat::installUrl(link);
            next();
        });
}

void NewProcessController::installFromPackageLink(const Next& next) {
    m_outcome.installUrl = m_outcome.packageLink;
    next();
}

// The status of the link request after the icon's and the QR image's uploads.
NewProcessController::StepText NewProcessController::finishing() {
    return {QStringLiteral("Finalising Details"), QStringLiteral("This takes few seconds."),
            ProcessState::processing};
}

void NewProcessController::uploadIcon(const Next& next) {
    const QString icon = m_outcome.record.icon;
    if (icon.isEmpty() || icon.contains(QLatin1String("data:image"))) {
        next();
        return;
    }
    newClient();
    const std::optional<QString> local = writePng(JobFormat::iconFileName, QImage(icon));
    if (!local) {
        logLine(QStringLiteral("The icon could not be prepared: ") + icon);
        next();
        return;
    }
    uploadAndShare(
        *local, generatedFile(JobFormat::iconFileName), finishing(),
        [this, next](const QString& link) {
            m_outcome.record.icon = link;
            m_outcome.iconLink = link;
            next();
        },
        // An icon that does not make it never stops the job.
        [this, next](const QString& reason) {
            logLine(QStringLiteral("The icon was not uploaded: ") + reason);
            m_outcome.record.icon.clear();
            next();
        });
}

void NewProcessController::hostApp(const Next& next) {
    setStatus(QStringLiteral("Hosting the app"), QString(), ProcessState::hosting);
    m_outcome.appId = randomString(JobFormat::appIdLength) + m_kind.appIdSuffix;
    m_outcome.qrLink = JobFormat::productionBaseUrl() + m_outcome.appId;
    m_outcome.qrImage =
        QRCodeDocument::forLink(m_outcome.qrLink).imageWithDimension(JobFormat::qrImageSize, 1);
    if (!m_outcome.qrImage) {
        next();
        return;
    }
    const std::optional<QString> local = writePng(JobFormat::qrFileName, *m_outcome.qrImage);
    if (!local) {
        logLine(QStringLiteral("The QR image could not be written"));
        next();
        return;
    }
    newClient();
    uploadAndShare(
        *local, generatedFile(JobFormat::qrFileName), finishing(),
        [this, next](const QString& link) {
            m_outcome.record.QR = link;
            m_outcome.qrImageLink = link;
            next();
        },
        [next](const QString& reason) {
            logLine(QStringLiteral("The QR image was not uploaded: ") + reason);
            next();
        });
}

void NewProcessController::registerApp(const Next& next) {
    Zapp app(m_outcome.record, now());
    app.appurl = m_outcome.installUrl;
    app.appid = m_outcome.appId;
    app.profileKind = m_outcome.preflight.recordProfileKind();
    app.profileExpiry = m_outcome.preflight.recordProfileExpiry();
    app.provisionedDevices = m_outcome.preflight.recordProvisionedDevices();
    app.provisionedDeviceIds = m_outcome.preflight.recordProvisionedDeviceIds();
    app.appdescription = m_notes;
    m_currentClient = nullptr;
    m_backend->createApp(app, live([this, next](const QString& link, const QString& latestLink) {
                             m_outcome.resultLink = link;
                             m_outcome.latestLink = latestLink;
                             setStatus(QStringLiteral("Hosting the app"),
                                       QStringLiteral("Use this url - \n") + link, ProcessState::hosting);
                             next();
                         }),
                         live([this](const QString& reason) { fail(reason); }));
}

void NewProcessController::complete(const Next&) {
    m_ended = true;
    // The warnings stay on the last view too, where the user copies the link to hand out.
    setStatus(QStringLiteral("Process Complete"),
              QStringLiteral("The app is hosted here\n") + m_outcome.resultLink + preflightNotes(),
              ProcessState::completed);
    if (m_outcome.qrImage)
        m_view.setResultImage(*m_outcome.qrImage);
    endWith(ProcessState::completed);
}
