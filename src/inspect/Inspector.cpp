#include "inspect/Inspector.h"

#include "core/Log.h"
#include "core/WorkingFolder.h"
#include "inspect/ZipExtractor.h"

#include <QBuffer>
#include <QDir>
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
    m_folderPrepared = QDir().mkpath(m_workingPath) && QFileInfo(m_workingPath).isDir();
    return m_folderPrepared;
}

bool Inspector::isPlainRelativePath(const QString& path) {
    if (path.isEmpty())
        return false;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool Inspector::copyEntry(const QString& archivePath, const ZipEntry& entry, QIODevice& out,
                          const QString& notValid) {
    QFile archive(archivePath);
    const ZipExtractor::Result result = archive.open(QIODevice::ReadOnly)
                                            ? ZipExtractor::extract(archive, entry, out)
                                            : ZipExtractor::Result::Damaged;
    switch (result) {
    case ZipExtractor::Result::Written:
        return true;
    case ZipExtractor::Result::Longer:
        logLine(QStringLiteral("Longer than its directory entry says: ") + QString::fromUtf8(entry.name));
        fail(QStringLiteral("The package holds more data than it declares."));
        return false;
    case ZipExtractor::Result::Damaged:
        logLine(QStringLiteral("Damaged entry: ") + QString::fromUtf8(entry.name));
        fail(notValid);
        return false;
    case ZipExtractor::Result::WriteFailed:
        break;
    }
    logLine(QStringLiteral("Error: could not write ") + QString::fromUtf8(entry.name));
    fail(QStringLiteral("The working folder could not be written."));
    return false;
}

std::optional<QByteArray> Inspector::readEntry(const QString& archivePath, const ZipEntry& entry,
                                               const QString& notValid) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!copyEntry(archivePath, entry, buffer, notValid))
        return std::nullopt;
    return buffer.data();
}

bool Inspector::extractEntry(const QString& archivePath, const ZipEntry& entry, const QString& relativePath,
                             const QString& notValid) {
    const QString path = m_workingPath + QLatin1Char('/') + relativePath;
    QFile file(path);
    if (!isPlainRelativePath(relativePath) || !QDir().mkpath(QFileInfo(path).absolutePath()) ||
        !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        logLine(QStringLiteral("Error: could not create ") + path);
        fail(QStringLiteral("The working folder could not be written."));
        return false;
    }
    return copyEntry(archivePath, entry, file, notValid);
}

QProcess* Inspector::startProcess(const QString& program, const QStringList& args) {
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments(args);
    // No prompt of a child may ever wait for an answer.
    process->setStandardInputFile(QProcess::nullDevice());
    return process;
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
