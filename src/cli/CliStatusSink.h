#pragma once

#include "app/StatusSink.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTextStream>

#include <functional>

// The hosting job's progress on standard error, written to read well in a CI log as well as on a
// terminal. Each step's title is printed once, with its detail lines indented below; a later
// status with the same title adds only the lines not printed under it yet (the job announces a
// step, then tells more about it). While uploading, a terminal shows a progress bar redrawn in
// place; elsewhere one line at each quarter reached (at most four per file), with the transfer
// rate. Failures are left to the command.
class CliStatusSink : public StatusSink {
public:
    // What the running upload sends.
    struct Upload {
        QString name;
        qint64 size = 0;
    };

    CliStatusSink(QTextStream& err, bool terminal, bool quiet, std::function<Upload()> upload);

    // Lines printed already by the command (the preflight's findings): left out of the details.
    void setAlreadySaid(const QStringList& lines);

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
    std::function<Upload()> m_upload;
    QSet<QString> m_alreadySaid;
    QHash<QString, QSet<QString>> m_linesOfTitle; // what was printed under each title
    QString m_lastTitle;                          // the title the last lines stand under
    QElapsedTimer m_uploadClock;
    QString m_uploadName;
    double m_lastValue = -1;
    int m_lastQuarter = 0;
    bool m_barShown = false;
};
