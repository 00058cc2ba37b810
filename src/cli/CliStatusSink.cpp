#include "cli/CliStatusSink.h"

#include <QStringList>

#include <cmath>

namespace {
// Lines that differ only in case, spacing or punctuation say the same thing ("current file name
// X" and "Current file name -  X").
QString gist(const QString& line) {
    QString out;
    for (const QChar c : line) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}
} // namespace

CliStatusSink::CliStatusSink(QTextStream& err, bool terminal, bool quiet, std::function<Upload()> upload)
    : m_err(err), m_terminal(terminal), m_quiet(quiet), m_upload(std::move(upload)) {}

void CliStatusSink::setAlreadySaid(const QStringList& lines) {
    for (const QString& line : lines)
        m_alreadySaid.insert(gist(line));
}

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
    m_lastQuarter = 0;
    if (m_quiet || state == ProcessState::failed)
        return;
    const bool seen = m_linesOfTitle.contains(title);
    QSet<QString>& printed = m_linesOfTitle[title];
    QStringList fresh;
    for (const QString& line : detail.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        const QString key = gist(text);
        if (key.isEmpty() || m_alreadySaid.contains(key) || printed.contains(key))
            continue;
        printed.insert(key);
        fresh << text;
    }
    const bool heading = !seen || (!fresh.isEmpty() && title != m_lastTitle);
    if (!heading && fresh.isEmpty())
        return;
    endLine();
    if (heading) {
        m_err << title << '\n';
        m_lastTitle = title;
    }
    for (const QString& line : std::as_const(fresh))
        m_err << "  " << line << '\n';
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
    const Upload upload = m_upload ? m_upload() : Upload{};
    if (m_lastValue < 0 || value < m_lastValue || upload.name != m_uploadName) {
        m_uploadClock.start();
        m_lastQuarter = 0;
        m_uploadName = upload.name;
    }
    m_lastValue = value;
    const double seconds = m_uploadClock.elapsed() / 1000.0;
    const double bytes = value / 100 * double(upload.size);
    const QString rate =
        seconds > 0.05 && bytes > 0 ? QStringLiteral("  ") + rateText(bytes / seconds) : QString();
    const QString name = upload.name.isEmpty() ? QString() : upload.name + QLatin1Char(' ');
    if (m_terminal) {
        constexpr int width = 30;
        const int filled = int(std::lround(value / 100 * width));
        m_err << "\r  " << name << '[' << QString(filled, QLatin1Char('#'))
              << QString(width - filled, QLatin1Char('.')) << "] " << percentageText.rightJustified(8) << rate
              << "   ";
        m_barShown = true;
        m_err.flush();
        return;
    }
    // A log gets a line at 25, 50, 75 and 100 % only: the start says nothing, and more lines
    // bury the steps.
    const int quarter = int(value / 25);
    if (quarter <= m_lastQuarter)
        return;
    m_lastQuarter = quarter;
    m_err << "  " << name << percentageText << rate << '\n';
    m_err.flush();
}
