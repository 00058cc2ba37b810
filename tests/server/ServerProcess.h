#pragma once

#include "support/TestSupport.h"

#include <QProcess>
#include <QStringList>

#include <httplib.h>

// The binary, started on a free port and stopped with a signal.
class ServerProcess {
public:
    explicit ServerProcess(const QString& dataDir, quint16 port, const QStringList& extra = {}) : m_port(port) {
        m_process.setProgram(testsupport::binaryDir() + QStringLiteral("/src/server/vantry-server"));
        m_process.setArguments(QStringList{QStringLiteral("--data-dir"), dataDir, QStringLiteral("--listen"),
                                           QStringLiteral("127.0.0.1:%1").arg(port)} + extra);
        m_process.start();
    }
    bool waitReady() {
        return testsupport::waitUntil([this] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains("listening on") || m_process.state() == QProcess::NotRunning;
        }) && m_process.state() == QProcess::Running;
    }
    // Sends SIGTERM; returns the exit code (or -1 when it did not end normally).
    int terminate() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_output += m_process.readAllStandardOutput();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QByteArray output() const { return m_output; }
    qint64 pid() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    httplib::Client client() const { return httplib::Client("127.0.0.1", m_port); }

private:
    quint16 m_port;
    QProcess m_process;
    QByteArray m_output;
};


