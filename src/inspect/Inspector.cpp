#include "inspect/Inspector.h"

#include "core/Log.h"
#include "core/WorkingFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <memory>

#include <sys/resource.h>

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
    m_folderPrepared = QDir().mkpath(m_workingPath) && QFileInfo(m_workingPath).isDir();
    return m_folderPrepared;
}

std::optional<Inspector::Extraction>
Inspector::planExtraction(const QList<ZipEntry>& entries,
                          const std::function<std::optional<std::uint64_t>(const QByteArray&)>& limitFor) {
    // Each refused entry becomes an argument of unzip.
    constexpr qsizetype maxRefused = 1000;
    Extraction plan;
    std::uint64_t total = 0;
    for (const ZipEntry& entry : entries) {
        const std::optional<std::uint64_t> limit = limitFor(entry.name);
        if (!limit || entry.isDirectory())
            continue;
        if (mayExtract(entry, std::min(*limit, maxExtractedFileBytes)) &&
            entry.size <= maxExtractedBytes - total) {
            total += entry.size;
            continue;
        }
        if (plan.refused.size() == maxRefused)
            return std::nullopt;
        plan.refused.append(entry.name);
        plan.exclusions.append(unzipPattern(entry.name));
    }
    return plan;
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
    // An entry whose real size exceeds what the directory claims is stopped here (SIGXFSZ).
    process->setChildProcessModifier([] {
        const rlimit limit{maxExtractedFileBytes, maxExtractedFileBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    // Warnings of unzip ("skipped ../ path component") are diagnostics only.
    connect(process, &QProcess::readyRead, this, [process] { process->readAll(); });
    connect(process, &QProcess::finished, this,
            [this, process, finished](int code, QProcess::ExitStatus status) {
                process->deleteLater();
                removeSymlinks(m_workingPath);
                finished(status == QProcess::NormalExit ? code : unzipCrashed);
            });
    connect(process, &QProcess::errorOccurred, this, [process, finished](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        finished(unzipFailedToStart);
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
    if (m_folderPrepared && !m_reported)
        QDir(m_workingPath).removeRecursively();
    report([this, message] {
        if (onFailure)
            onFailure(message);
    });
}
