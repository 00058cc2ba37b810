#include "storage/SecretFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

namespace {
constexpr auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

struct Loaded {
    QJsonObject root;
    bool ok = true;
    int status = 0;
    QString message;
};

Loaded load(const QString& path) {
    Loaded out;
    QFile file(path);
    if (!file.exists())
        return out;
    if (!file.open(QIODevice::ReadOnly)) {
        out = {{}, false, int(file.error()), file.errorString()};
        return out;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {{}, false, int(QFileDevice::ReadError), QStringLiteral("The secret file is damaged.")};
    out.root = doc.object();
    return out;
}
} // namespace

SecretFile::SecretFile(QString path) : m_path(std::move(path)) {}

std::optional<QString> SecretFile::read(const QString& service, const QString& account) const {
    const Loaded loaded = load(m_path);
    const QJsonValue value = loaded.root.value(service).toObject().value(account);
    if (!loaded.ok || !value.isString())
        return std::nullopt;
    return value.toString();
}

SecretFile::WriteResult SecretFile::write(const QString& service, const QString& account,
                                          const QString& value) {
    const QString dir = QFileInfo(m_path).absolutePath();
    QDir().mkpath(dir);
    QFile::setPermissions(dir, ownerOnly | QFile::ExeOwner);

    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return {false, -1, QStringLiteral("The secret file is locked by another process."), true};

    Loaded loaded = load(m_path);
    if (!loaded.ok)
        return {false, loaded.status, loaded.message, true};
    QJsonObject entries = loaded.root.value(service).toObject();
    entries.insert(account, value);
    loaded.root.insert(service, entries);

    QSaveFile out(m_path);
    // Permissions go on the temporary file before any secret byte is written to it.
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(ownerOnly))
        return {false, int(out.error()), out.errorString()};
    out.write(QJsonDocument(loaded.root).toJson(QJsonDocument::Compact));
    if (!out.commit())
        return {false, int(out.error()), out.errorString()};
    return {true};
}
