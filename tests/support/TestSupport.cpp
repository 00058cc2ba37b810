#include "support/TestSupport.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

namespace testsupport {

QString homeDir() {
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

QString makeTempDir(const QString& prefix) {
    static int counter = 0;
    const QString path = homeDir() + QStringLiteral("/tmp/%1-%2").arg(prefix).arg(++counter);
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QString sourceDir() {
    const QByteArray dir = qgetenv("VANTRY_SOURCE_DIR");
    return dir.isEmpty() ? QStringLiteral(VANTRY_TEST_SOURCE_DIR) : QString::fromLocal8Bit(dir);
}

QString binaryDir() {
    const QByteArray dir = qgetenv("VANTRY_BINARY_DIR");
    return dir.isEmpty() ? QStringLiteral(VANTRY_TEST_BINARY_DIR) : QString::fromLocal8Bit(dir);
}

QString dataPath(const QString& relative) {
    return sourceDir() + QStringLiteral("/tests/data/") + relative;
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArrayList> tsvRows(const QString& path, int columns) {
    QList<QByteArrayList> out;
    for (const QByteArray& line : readFile(path).split('\n')) {
        if (!line.startsWith('#') && line.count('\t') == columns - 1)
            out.append(line.split('\t'));
    }
    return out;
}

ProgramRun runProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                      const QByteArray& input,
                      const std::function<void(QProcess&, const QByteArray&)>& during) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    ProgramRun run;
    const bool ended = waitUntil(
        [&] {
            run.out += process.readAllStandardOutput();
            run.err += process.readAllStandardError();
            if (during)
                during(process, run.err);
            return process.state() == QProcess::NotRunning;
        },
        120000);
    EXPECT_TRUE(ended) << run.err.constData();
    run.out += process.readAllStandardOutput();
    run.err += process.readAllStandardError();
    run.status = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

LogCapture::LogCapture() {
    setLogSink([this](const QString& line) {
        QMutexLocker lock(&m_mutex);
        m_lines.append(line);
    });
}

LogCapture::~LogCapture() {
    setLogSink({});
}

QStringList LogCapture::lines() const {
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace testsupport
