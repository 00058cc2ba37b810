#include "core/Log.h"

#include <QMutex>

#include <cstdio>

namespace {
QMutex& logMutex() {
    static QMutex mutex;
    return mutex;
}
LogSink& logSink() {
    static LogSink sink;
    return sink;
}
} // namespace

void logLine(const QString& message) {
    // One message is one line, whatever it contains: control characters (line breaks, terminal
    // escapes, NUL) are written as \xNN so that a request path can neither forge a line nor
    // drive the terminal that shows the log.
    QString line;
    line.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            line += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            line += c;
    }
    QMutexLocker lock(&logMutex());
    if (logSink()) {
        logSink()(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void setLogSink(LogSink sink) {
    QMutexLocker lock(&logMutex());
    logSink() = std::move(sink);
}
