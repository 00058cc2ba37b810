#pragma once

#include "app/StatusSink.h"

#include <QElapsedTimer>
#include <QTextStream>

#include <functional>

// The hosting job's progress on standard error: one line per step with its detail indented
// below; while uploading, a progress bar with the percentage and transfer rate redrawn in place
// on a terminal, or a plain line per tenth otherwise. Failures are left to the command.
class CliStatusSink : public StatusSink {
public:
    // uploadSize tells how many bytes the running upload sends.
    CliStatusSink(QTextStream& err, bool terminal, bool quiet, std::function<qint64()> uploadSize);

    void setStatus(const QString& title, const QString& detail, ProcessState state) override;
    void setProgress(const QString& percentageText, double value) override;

    // Ends a progress bar line so that the next output starts on a line of its own.
    void endLine();

    // "12.3 MB/s", "850 kB/s".
    static QString rateText(double bytesPerSecond);

private:
    QTextStream& m_err;
    bool m_terminal;
    bool m_quiet;
    std::function<qint64()> m_uploadSize;
    QElapsedTimer m_uploadClock;
    double m_lastValue = -1;
    int m_lastTenth = -1;
    bool m_barShown = false;
};
