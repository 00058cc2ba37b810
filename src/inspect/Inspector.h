#pragma once

#include "inspect/Preflight.h"
#include "inspect/ZipDirectory.h"
#include "records/PackageRecord.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What ParseIPA and ParseAPK share: the working folder, extraction of single entries, the size
// text and the single, asynchronous report to the caller.
//
// An inspector is created with new and owns itself: the caller assigns onComplete and
// onFailure (before returning to the event loop), calls inspect() and forgets the pointer.
// Exactly one of the two callbacks is called, once, on the thread of the inspector, never from
// inside inspect(); the inspector deletes itself afterwards. Only one inspection of either
// kind may run at a time, because they share the working folder.
class Inspector : public QObject {
    Q_OBJECT
public:
    explicit Inspector(QObject* parent = nullptr);

    std::function<void(const PackageRecord&)> onComplete;
    std::function<void(const QString& message)> onFailure;

    // Starts the inspection of the package at location (a file URL or a local path).
    virtual void inspect(const QUrl& location) = 0;

    QString workingPath() const { return m_workingPath; }

    // What the package's preflight found; complete when onComplete runs.
    const Preflight& preflight() const { return m_preflight; }
    // The time profile and certificate dates are judged at.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };

    // "N MB" with N the whole mebibytes of the file, rounded down; "" (and a console line)
    // when the file cannot be measured.
    static QString packageSizeText(const QString& path);

    // Local path of a file URL (percent-escapes decoded once) or of a plain path.
    static QString localPath(const QUrl& location);

protected:
    // Removes and recreates the working folder; false when it cannot be made. After that, a
    // failed inspection removes the folder again with whatever it extracted.
    bool prepareWorkingFolder();

    // The contents of entry in the archive at archivePath, held to the size the directory
    // claims; nothing when they cannot be read, the inspection then failed with one sentence
    // (notValid for damaged data). Callers check the claim first (mayExtract).
    std::optional<QByteArray> readEntry(const QString& archivePath, const ZipEntry& entry,
                                        const QString& notValid);
    // The same written to relativePath (plain components only) in the working folder; false when
    // it fails.
    bool extractEntry(const QString& archivePath, const ZipEntry& entry, const QString& relativePath,
                      const QString& notValid);
    // Whether path names a place inside a folder: relative, without "." or ".." components.
    static bool isPlainRelativePath(const QString& path);

    // Runs "/bin/sh SCRIPT RESOURCE_DIR PACKAGE" (no command line is built, so the package path
    // reaches the script as it is); finished receives standard output, or nothing when the
    // shell could not be started.
    void runScript(const QString& script, const QString& resourceDir, const QString& package,
                   std::function<void(std::optional<QByteArray> output)> finished);

    void deliver(const PackageRecord& record);
    void fail(const QString& message);

    QString m_workingPath;
    Preflight m_preflight;

private:
    void report(std::function<void()> call);
    QProcess* startProcess(const QString& program, const QStringList& args);
    bool copyEntry(const QString& archivePath, const ZipEntry& entry, QIODevice& out,
                   const QString& notValid);
    bool m_reported = false;
    bool m_folderPrepared = false;
};
