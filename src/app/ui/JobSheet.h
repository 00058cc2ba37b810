#pragma once

#include <QDialog>

class ProcessView;

// The window of one hosting job: modal to the main window, 550 × 350, the job's progress view
// as its whole content. The rounded panel is the window; dragging it anywhere moves it.
class JobSheet : public QDialog {
    Q_OBJECT
public:
    explicit JobSheet(QWidget* parent);

    ProcessView* processView() const { return m_view; }

    // Opens the sheet over its parent without blocking the caller.
    void present();

private:
    ProcessView* m_view = nullptr;
};
