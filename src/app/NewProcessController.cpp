#include "app/NewProcessController.h"

#include "app/JobFormat.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/WorkingFolder.h"
#include "inspect/ParseIPA.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <utility>

NewProcessController::Kind NewProcessController::iosJob() {
    using J = NewProcessController;
    return {QStringLiteral(".ipa"),
            QString(),
            [] { return new ParseIPA; },
            {&J::inspect, &J::checkPreflight, &J::createFolders, &J::uploadPackage, &J::showInspection,
             &J::uploadManifest, &J::uploadIcon, &J::hostApp, &J::registerApp, &J::complete}};
}

NewProcessController::NewProcessController(const QUrl& url, StatusSink& view, QObject* parent)
    : NewProcessController(iosJob(), url, view, parent) {}

NewProcessController::NewProcessController(Kind kind, const QUrl& url, StatusSink& view, QObject* parent)
    : QObject(parent), m_kind(std::move(kind)), m_url(url), m_view(view),
      m_makeClient([] { return makeStorageClient(); }), m_backend(std::make_shared<ZelkoHostingBackend>()),
      m_now([] { return QDateTime::currentDateTime(); }) {}

NewProcessController::~NewProcessController() {
    stopInspector();
    if (m_backend)
        m_backend->cancel();
}

void NewProcessController::setCancelDelays(int cancelledTextMs, int dismissMs) {
    m_cancelledTextMs = cancelledTextMs;
    m_dismissMs = dismissMs;
}

void NewProcessController::useInspection(const PackageRecord& record, const Preflight& preflight) {
    m_outcome.record = record;
    m_outcome.preflight = preflight;
    m_inspected = true;
}

void NewProcessController::start() {
    if (m_started)
        return;
    m_started = true;
    // Named from the start: a job that ends before any storage step still posts its
    // notifications under this package's name, not the previous job's.
    m_outcome.currentFileName = JobFormat::fileName(m_url, m_kind.extension, now());
    setStatus(QStringLiteral("Making your project ready"), QStringLiteral("This takes few minutes"),
              ProcessState::preparing);
    runStep(0);
}

void NewProcessController::runStep(std::size_t index) {
    if (m_ended || index >= m_kind.steps.size())
        return;
    auto called = std::make_shared<bool>(false);
    (this->*m_kind.steps[index])([this, index, called] {
        if (!std::exchange(*called, true))
            runStep(index + 1);
    });
}

void NewProcessController::setStatus(const QString& title, const QString& detail, ProcessState state) {
    m_state = state;
    if (isRunning(state))
        m_stepTitle = title;
    m_view.setStatus(title, detail, state);
    switch (state) {
    case ProcessState::completed:
        m_view.postNotification(m_outcome.currentFileName, QStringLiteral("Task Completed"));
        break;
    case ProcessState::failed:
        m_view.postNotification(m_outcome.currentFileName, QStringLiteral("Task done with error"));
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
    return live(
        [this](double fraction) { m_view.setProgress(JobFormat::percentageText(fraction), fraction * 100); });
}

NewProcessController::RemoteFile NewProcessController::generatedFile(const QString& name) const {
    const QString path = m_outcome.appFolderPath + QLatin1Char('/') + name;
    return {path.toLower(), path};
}

void NewProcessController::uploadAndShare(const QString& localPath, const RemoteFile& remote,
                                          const StepText& linking, std::function<void(const QString&)> onLink,
                                          ClientManager::Failure onFailure) {
    ClientManager* client = m_currentClient;
    auto done = std::make_shared<bool>(false);
    const auto once = [done](std::function<void(const QString&)> fn) {
        return [done, fn = std::move(fn)](const QString& value) {
            if (!std::exchange(*done, true))
                fn(value);
        };
    };
    const auto linked = once(std::move(onLink));
    const auto failed =
        once(onFailure ? std::move(onFailure) : [this](const QString& reason) { fail(reason); });
    // The clients percent-decode the local path once before they read the file.
    m_uploadSize = QFileInfo(QUrl::fromPercentEncoding(localPath.toUtf8())).size();
    m_uploadName = QFileInfo(remote.linkPath).fileName();
    client->uploadFile(localPath, remote.uploadPath, live([this, client, remote, linking, linked](bool) {
                           setStatus(linking.title, linking.detail, linking.state);
                           client->shareLink(remote.linkPath, live(linked));
                       }),
                       progress());
    client->onFailure = live(failed);
    // A resumed transfer says so in the step's detail; the step itself goes on.
    client->onNotice = live([this](const QString& text) { setStatus(m_stepTitle, text, m_state); });
}

QString NewProcessController::preflightNotes() const {
    // What a tester should know before the link goes out; blocking findings too when forced.
    const QStringList notes = m_outcome.preflight.messages(PreflightFinding::Verdict::blocking) +
                              m_outcome.preflight.messages(PreflightFinding::Verdict::warning);
    return notes.isEmpty() ? QString() : QStringLiteral("\n\n") + notes.join(QLatin1Char('\n'));
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

void NewProcessController::leftAction() {
    m_view.copyToClipboard(m_outcome.resultLink);
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
    m_view.postNotification(m_outcome.currentFileName, QStringLiteral("Task Cancelled"));
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
