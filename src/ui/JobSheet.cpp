#include "ui/JobSheet.h"

#include "app/HostingJob.h"
#include "app/NewProcessController.h"
#include "ui/ProcessView.h"
#include "ui/Theme.h"

#include <QVBoxLayout>

JobSheet::JobSheet(QWidget* parent, const QUrl& package, PackageIntake::Kind kind)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("jobSheet"));
    setWindowTitle(QStringLiteral("Vantry"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new ProcessView(this);
    layout->addWidget(m_view);
    setFixedSize(550, 350);

    m_view->setSpinnerColor(Theme::jobAccent);
    connect(m_view, &ProcessView::dismissRequested, this, &QDialog::accept);
    if (package.isEmpty())
        return;
    m_job = makeHostingJob(kind, package, *m_view);
    NewProcessController* job = m_job.get();
    connect(m_view, &ProcessView::leftClicked, job, &NewProcessController::leftAction);
    connect(m_view, &ProcessView::rightClicked, job, &NewProcessController::rightAction);
    connect(m_view, &ProcessView::cancelClicked, job, &NewProcessController::cancelAction);
}

JobSheet::~JobSheet() {
    // The job goes first: it must not report to a view that is already gone.
    m_job.reset();
}

void JobSheet::present() {
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->geometry();
        move(area.center() - rect().center());
    }
    open();
    if (m_job)
        m_job->start();
}

void JobSheet::reject() {
    // Escape or the window manager's close: a running job is cancelled first, the sheet then
    // stays until the job lets it go.
    if (m_job && isRunning(m_job->state())) {
        m_job->cancelAction();
        return;
    }
    // An ended job goes home the way its button does, so the history shows the new app.
    if (m_job && (m_job->state() == ProcessState::completed || m_job->state() == ProcessState::failed)) {
        m_job->rightAction();
        return;
    }
    QDialog::reject();
}
