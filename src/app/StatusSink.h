#pragma once

#include "app/ProcessState.h"

#include <QImage>
#include <QString>

// What a hosting job shows its progress on: the desktop's progress sheet, the command line, or a
// test that records every call. The job decides every text; a sink only presents.
class StatusSink {
public:
    virtual ~StatusSink() = default;

    // The current step: title, detail text (may contain line breaks) and the controls of state.
    virtual void setStatus(const QString& title, const QString& detail, ProcessState state) = 0;
    // Percentage label text ("12.35 %") and progress bar value (0-100) of the running upload.
    virtual void setProgress(const QString& percentageText, double value) = 0;
    // The QR code of the result.
    virtual void setResultImage(const QImage& image) { Q_UNUSED(image); }
    // A local user notification, shown at once.
    virtual void postNotification(const QString& title, const QString& body) {
        Q_UNUSED(title);
        Q_UNUSED(body);
    }
    // "Copy to Clipboard".
    virtual void copyToClipboard(const QString& text) { Q_UNUSED(text); }
    // Closes the job's sheet when it is still presented.
    virtual void dismiss() {}
};
