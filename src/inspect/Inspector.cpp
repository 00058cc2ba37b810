#include "inspect/Inspector.h"

#include "core/Log.h"
#include "core/WorkingFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <memory>

Inspector::Inspector(QObject* parent) : QObject(parent) {}

QString Inspector::packageSizeText(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        logLine(QStringLiteral(
                    "Error: The file \u201c%1\u201d couldn\u2019t be opened because there is no such file.")
                    .arg(info.fileName()));
        return {};
    }
    const quint64 bytes = quint64(info.size());
    return QString::number(bytes >> 20) + QStringLiteral(" MB");
}

QString Inspector::localPath(const QUrl& location) {
    if (location.isLocalFile())
        return location.toLocalFile();
    if (location.scheme().isEmpty())
        return location.path();
    return {};
}

bool Inspector::prepareWorkingFolder() {
    m_workingPath = workingFolder();
    const QFileInfo existing(m_workingPath);
    if (existing.exists() || existing.isSymLink()) {
        // A stray file or link in its place is removed too, never followed.
        if (existing.isDir() && !existing.isSymLink())
            QDir(m_workingPath).removeRecursively();
        else
            QFile::remove(m_workingPath);
    }
    return QDir().mkpath(m_workingPath) && QFileInfo(m_workingPath).isDir();
}

// A package may carry symbolic links (zip stores them); one named like the icon could make a
// later upload publish any file of the user's. Nothing inspection reads is a link in a real
// package.
void Inspector::removeSymlinks(const QString& folder) {
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isSymLink() && !QFile::remove(path))
            logLine(QStringLiteral("Error: could not remove link ") + path);
    }
}

QProcess* Inspector::startProcess(const QString& program, const QStringList& args) {
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments(args);
    // No prompt of a child may ever wait for an answer.
    process->setStandardInputFile(QProcess::nullDevice());
    return process;
}

void Inspector::runUnzip(const QStringList& args, std::function<void(int)> finished) {
    QProcess* process = startProcess(QStringLiteral("/usr/bin/unzip"), args);
    process->setProcessChannelMode(QProcess::MergedChannels);
    // Warnings of unzip ("skipped ../ path component") are diagnostics only.
    connect(process, &QProcess::readyRead, this, [process] { process->readAll(); });
    connect(process, &QProcess::finished, this,
            [this, process, finished](int code, QProcess::ExitStatus status) {
                process->deleteLater();
                removeSymlinks(m_workingPath);
                finished(status == QProcess::NormalExit ? code : -1);
            });
    connect(process, &QProcess::errorOccurred, this, [process, finished](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        finished(-1);
    });
    process->start();
}

void Inspector::runScript(const QString& script, const QString& resourceDir, const QString& package,
                          std::function<void(std::optional<QByteArray>)> finished) {
    QProcess* process = startProcess(QStringLiteral("/bin/sh"), {script, resourceDir, package});
    process->setStandardErrorFile(QProcess::nullDevice());
    auto output = std::make_shared<QByteArray>();
    connect(process, &QProcess::readyReadStandardOutput, this,
            [process, output] { *output += process->readAllStandardOutput(); });
    connect(process, &QProcess::finished, this, [process, output, finished](int, QProcess::ExitStatus) {
        *output += process->readAllStandardOutput();
        process->deleteLater();
        finished(*output);
    });
    connect(process, &QProcess::errorOccurred, this, [process, finished](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        finished(std::nullopt);
    });
    process->start();
}

void Inspector::report(std::function<void()> call) {
    if (m_reported)
        return;
    m_reported = true;
    // Queued so that no report ever arrives from inside inspect(), and so that the caller may
    // still assign the callbacks after starting.
    QTimer::singleShot(0, this, [this, call] {
        call();
        deleteLater();
    });
}

void Inspector::deliver(const PackageRecord& record) {
    report([this, record] {
        if (onComplete)
            onComplete(record);
    });
}

void Inspector::fail(const QString& message) {
    report([this, message] {
        if (onFailure)
            onFailure(message);
    });
}
