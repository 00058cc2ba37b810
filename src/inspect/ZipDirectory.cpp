#include "inspect/ZipDirectory.h"

#include <QFile>

namespace {

constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::uint32_t end64Signature = 0x06064b50;
constexpr std::uint32_t end64LocatorSignature = 0x07064b50;
constexpr std::uint32_t entrySignature = 0x02014b50;
constexpr qint64 endSize = 22;
constexpr qint64 maxComment = 0xFFFF;
// The directory of a real package is a few megabytes even with a hundred thousand entries.
constexpr std::uint64_t maxDirectoryBytes = 128ull * 1024 * 1024;

std::uint64_t little(const QByteArray& bytes, qsizetype pos, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[pos + i]);
    return v;
}

QByteArray readAt(QFile& file, std::uint64_t pos, std::uint64_t length) {
    if (pos > std::uint64_t(file.size()) || length > std::uint64_t(file.size()) - pos ||
        !file.seek(qint64(pos)))
        return {};
    QByteArray bytes = file.read(qint64(length));
    return std::uint64_t(bytes.size()) == length ? bytes : QByteArray();
}

// Replaces the 32-bit sizes and offset that are 0xFFFFFFFF by those of the ZIP64 extra field.
bool applyZip64(const QByteArray& extra, ZipEntry& entry) {
    for (qsizetype pos = 0; pos + 4 <= extra.size();) {
        const auto id = little(extra, pos, 2);
        const auto length = qsizetype(little(extra, pos + 2, 2));
        if (pos + 4 + length > extra.size())
            return false;
        if (id == 0x0001) {
            qsizetype field = pos + 4;
            for (std::uint64_t* value : {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
                if (*value != 0xFFFFFFFF)
                    continue;
                if (field + 8 > pos + 4 + length)
                    return false;
                *value = little(extra, field, 8);
                field += 8;
            }
            return true;
        }
        pos += 4 + length;
    }
    return entry.size != 0xFFFFFFFF && entry.compressedSize != 0xFFFFFFFF &&
           entry.localHeaderOffset != 0xFFFFFFFF;
}

} // namespace

std::optional<QList<ZipEntry>> ZipDirectory::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < endSize)
        return std::nullopt;
    const qint64 tailSize = std::min(file.size(), endSize + maxComment);
    const QByteArray tail = readAt(file, std::uint64_t(file.size() - tailSize), std::uint64_t(tailSize));
    qsizetype end = -1;
    for (qsizetype pos = tail.size() - endSize; pos >= 0; --pos) {
        if (little(tail, pos, 4) == endSignature &&
            pos + endSize + qsizetype(little(tail, pos + 20, 2)) <= tail.size()) {
            end = pos;
            break;
        }
    }
    if (end < 0)
        return std::nullopt;
    const std::uint64_t endOffset = std::uint64_t(file.size() - tailSize + end);
    std::uint64_t count = little(tail, end + 10, 2);
    std::uint64_t directorySize = little(tail, end + 12, 4);
    std::uint64_t directoryOffset = little(tail, end + 16, 4);
    std::uint64_t directoryEnd = endOffset;
    if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
        const QByteArray locator = endOffset >= 20 ? readAt(file, endOffset - 20, 20) : QByteArray();
        if (locator.isEmpty() || little(locator, 0, 4) != end64LocatorSignature)
            return std::nullopt;
        const std::uint64_t end64Offset = little(locator, 8, 8);
        const QByteArray end64 = readAt(file, end64Offset, 56);
        if (end64.isEmpty() || little(end64, 0, 4) != end64Signature)
            return std::nullopt;
        count = little(end64, 32, 8);
        directorySize = little(end64, 40, 8);
        directoryOffset = little(end64, 48, 8);
        directoryEnd = end64Offset;
    }
    // Measured back from its end, so that data put in front of the archive does not matter.
    if (count > std::uint64_t(maxEntries) || directorySize > maxDirectoryBytes ||
        directorySize > directoryEnd || directoryOffset > directoryEnd - directorySize)
        return std::nullopt;
    // What precedes the archive (a self-extracting stub) shifts every offset it records.
    const std::uint64_t shift = directoryEnd - directorySize - directoryOffset;
    const QByteArray directory = readAt(file, directoryEnd - directorySize, directorySize);
    if (directory.size() != qsizetype(directorySize))
        return std::nullopt;

    QList<ZipEntry> entries;
    entries.reserve(qsizetype(count));
    qsizetype pos = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (pos + 46 > directory.size() || little(directory, pos, 4) != entrySignature)
            return std::nullopt;
        const auto nameLength = qsizetype(little(directory, pos + 28, 2));
        const auto extraLength = qsizetype(little(directory, pos + 30, 2));
        const auto commentLength = qsizetype(little(directory, pos + 32, 2));
        const qsizetype next = pos + 46 + nameLength + extraLength + commentLength;
        if (next > directory.size())
            return std::nullopt;
        ZipEntry entry;
        entry.encrypted = little(directory, pos + 8, 2) & 1;
        entry.method = std::uint16_t(little(directory, pos + 10, 2));
        entry.compressedSize = little(directory, pos + 20, 4);
        entry.crc = std::uint32_t(little(directory, pos + 16, 4));
        entry.size = little(directory, pos + 24, 4);
        entry.localHeaderOffset = little(directory, pos + 42, 4);
        entry.name = directory.mid(pos + 46, nameLength);
        if (!applyZip64(directory.mid(pos + 46 + nameLength, extraLength), entry))
            return std::nullopt;
        entry.localHeaderOffset += shift;
        entries.append(entry);
        pos = next;
    }
    return entries;
}

bool mayExtract(const ZipEntry& entry, std::uint64_t maxSize) {
    // Deflate cannot expand one byte into more than about 1,032.
    constexpr std::uint64_t deflateBound = 1032;
    constexpr std::uint64_t ratioFreeSize = 1024 * 1024;
    constexpr std::uint64_t maxRatio = 100;
    if (entry.encrypted || entry.size > maxSize)
        return false;
    switch (entry.method) {
    case 0:
        return entry.size == entry.compressedSize;
    case 8:
        return entry.size / deflateBound <= entry.compressedSize &&
               (entry.size <= ratioFreeSize || entry.size / maxRatio <= entry.compressedSize);
    default:
        return false;
    }
}
