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
    // One message is one line, whatever it contains.
    QString line = message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
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
