#pragma once

#include "ui/PackageIntake.h"

#include <QDialog>
#include <QUrl>

#include <memory>

class NewProcessController;
class ProcessView;

// The window of one hosting job: modal to the main window, 550 × 350, the job's progress view as
// its whole content. The job drives the view; the view's buttons are the job's actions. The
// rounded panel is the window, and dragging it anywhere moves it. While the job runs the sheet
// only closes through Cancel.
class JobSheet : public QDialog {
    Q_OBJECT
public:
    // Without a package the sheet shows the view alone (screenshots).
    explicit JobSheet(QWidget* parent, const QUrl& package = {},
                      PackageIntake::Kind kind = PackageIntake::Kind::Ipa);
    ~JobSheet() override;

    ProcessView* processView() const { return m_view; }
    NewProcessController* job() const { return m_job.get(); }

    // Opens the sheet over its parent and starts the job, without blocking the caller.
    void present();
    // Escape or the window's close: cancels a running job; after a completed or failed one does
    // what "Go to home" does; closes a cancelled one.
    void reject() override;

private:
    ProcessView* m_view = nullptr;
    std::unique_ptr<NewProcessController> m_job;
};
