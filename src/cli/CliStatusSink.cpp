#include "cli/CliStatusSink.h"

#include <QStringList>

#include <cmath>

CliStatusSink::CliStatusSink(QTextStream& err, bool terminal, bool quiet, std::function<qint64()> uploadSize)
    : m_err(err), m_terminal(terminal), m_quiet(quiet), m_uploadSize(std::move(uploadSize)) {}

void CliStatusSink::endLine() {
    if (m_barShown) {
        m_err << '\n';
        m_err.flush();
        m_barShown = false;
    }
}

void CliStatusSink::setStatus(const QString& title, const QString& detail, ProcessState state) {
    // A new upload starts its clock and its percentages afresh.
    m_lastValue = -1;
    m_lastTenth = -1;
    if (m_quiet || state == ProcessState::failed)
        return;
    endLine();
    m_err << title << '\n';
    for (const QString& line : detail.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            m_err << "  " << line.trimmed() << '\n';
    }
    m_err.flush();
}

QString CliStatusSink::rateText(double bytesPerSecond) {
    if (bytesPerSecond >= 1e6)
        return QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1e3, 0, 'f', 0);
}

void CliStatusSink::setProgress(const QString& percentageText, double value) {
    if (m_quiet)
        return;
    if (m_lastValue < 0 || value < m_lastValue)
        m_uploadClock.start();
    m_lastValue = value;
    const double seconds = m_uploadClock.elapsed() / 1000.0;
    const double bytes = value / 100 * double(m_uploadSize ? m_uploadSize() : 0);
    const QString rate = seconds > 0.05 ? QStringLiteral("  ") + rateText(bytes / seconds) : QString();
    if (m_terminal) {
        constexpr int width = 30;
        const int filled = int(std::lround(value / 100 * width));
        m_err << "\r  [" << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('.'))
              << "] " << percentageText.rightJustified(8) << rate << "   ";
        m_barShown = true;
        m_err.flush();
        return;
    }
    const int tenth = int(value / 10);
    if (tenth == m_lastTenth)
        return;
    m_lastTenth = tenth;
    m_err << "  " << percentageText << rate << '\n';
    m_err.flush();
}
