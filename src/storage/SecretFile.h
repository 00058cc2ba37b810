#pragma once

#include <QString>

#include <optional>

// The owner-only secret file: one JSON object {service: {account: value}}, mode 0600 in a 0700
// folder, replaced atomically on every write and guarded by a lock file across processes.
class SecretFile {
public:
    explicit SecretFile(QString path);

    struct WriteResult {
        bool ok = false;
        int status = 0; // QFileDevice::FileError, or -1 when the lock was not granted
        QString message;
        bool lookupFailed = false; // the existing file could not be read: nothing was written
    };

    std::optional<QString> read(const QString& service, const QString& account) const;
    WriteResult write(const QString& service, const QString& account, const QString& value);

private:
    QString m_path;
};
