#include "server/PrivateFiles.h"

#include "core/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void tighten(const QByteArray& path, const struct stat& st, mode_t mode) {
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), mode) == 0)
        logLine(QStringLiteral("%1 was open to other accounts: now 0%2 (was 0%3)")
                    .arg(QFile::decodeName(path), QString::number(mode, 8),
                         QString::number(st.st_mode & 0777, 8)));
}
} // namespace

bool makePrivateFolder(const QString& folder, bool tightenExisting) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0) {
        if (tightenExisting && S_ISDIR(st.st_mode))
            tighten(path, st, 0700);
        return S_ISDIR(st.st_mode);
    }
    if (!QDir().mkpath(QFileInfo(folder).absolutePath()))
        return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

bool makePrivateFile(const QString& filePath, std::initializer_list<const char*> suffixes, QString* error) {
    const QByteArray path = QFile::encodeName(filePath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(filePath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
        tighten(path, st, 0600);
    for (const char* suffix : suffixes) {
        const QByteArray companion = path + suffix;
        if (::lstat(companion.constData(), &st) == 0 && S_ISREG(st.st_mode))
            tighten(companion, st, 0600);
    }
    return true;
}
