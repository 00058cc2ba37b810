#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// The central directory of a ZIP archive (ZIP64 included), read without extracting anything:
// what an inspection checks before it extracts a byte.
struct ZipEntry {
    QByteArray name; // as stored
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeaderOffset = 0; // from the start of the file, whatever precedes the archive
    std::uint32_t crc = 0;
    std::uint16_t method = 0; // 0 stored, 8 deflated
    bool encrypted = false;

    bool isDirectory() const { return name.endsWith('/'); }
};

class ZipDirectory {
public:
    // Archives listing more entries than this are refused whole.
    static constexpr std::int64_t maxEntries = 500000;

    // The entries in directory order; nothing when the file is no readable ZIP archive or
    // lists more than maxEntries.
    static std::optional<QList<ZipEntry>> read(const QString& path);
};

// Whether an entry may be extracted: stored or deflated, not encrypted, no larger than
// maxSize once extracted, and, beyond a megabyte, compressed no more than 100:1 (real package
// contents come nowhere near it; a bomb does, or lies about its sizes).
bool mayExtract(const ZipEntry& entry, std::uint64_t maxSize);
