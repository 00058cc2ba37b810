#include "inspect/ZipExtractor.h"

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <memory>

namespace {

constexpr std::uint32_t localSignature = 0x04034b50;
constexpr qint64 localHeaderSize = 30;
constexpr qint64 chunk = 64 * 1024;

std::uint32_t little(const QByteArray& bytes, qsizetype pos, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[pos + i]);
    return v;
}

// Counts and checks what goes to out; refuses anything past the claimed size before writing it.
class Sink {
public:
    Sink(const ZipEntry& entry, QIODevice& out) : m_entry(entry), m_out(out) {}

    std::optional<ZipExtractor::Result> take(const char* data, std::uint64_t n) {
        if (n > m_entry.size - m_written)
            return ZipExtractor::Result::Longer;
        if (m_out.write(data, qint64(n)) != qint64(n))
            return ZipExtractor::Result::WriteFailed;
        m_crc = crc32_z(m_crc, reinterpret_cast<const Bytef*>(data), z_size_t(n));
        m_written += n;
        return std::nullopt;
    }
    ZipExtractor::Result finish() const {
        return m_written == m_entry.size && m_crc == m_entry.crc ? ZipExtractor::Result::Written
                                                                 : ZipExtractor::Result::Damaged;
    }

private:
    const ZipEntry& m_entry;
    QIODevice& m_out;
    std::uint64_t m_written = 0;
    uLong m_crc = crc32(0, nullptr, 0);
};

struct InflateEnd {
    void operator()(z_stream* z) const { inflateEnd(z); }
};

} // namespace

ZipExtractor::Result ZipExtractor::extract(QFile& archive, const ZipEntry& entry, QIODevice& out) {
    const auto fileSize = std::uint64_t(archive.size());
    if (entry.localHeaderOffset > fileSize || fileSize - entry.localHeaderOffset < localHeaderSize ||
        !archive.seek(qint64(entry.localHeaderOffset)))
        return Result::Damaged;
    const QByteArray header = archive.read(localHeaderSize);
    if (header.size() != localHeaderSize || little(header, 0, 4) != localSignature)
        return Result::Damaged;
    // The local name and extra field may differ from the directory's; only their lengths matter.
    const std::uint64_t start =
        entry.localHeaderOffset + localHeaderSize + little(header, 26, 2) + little(header, 28, 2);
    if (start > fileSize || entry.compressedSize > fileSize - start || !archive.seek(qint64(start)))
        return Result::Damaged;

    Sink sink(entry, out);
    std::uint64_t unread = entry.compressedSize;
    const auto readInput = [&archive, &unread] {
        QByteArray bytes = archive.read(qint64(std::min<std::uint64_t>(chunk, unread)));
        unread -= std::uint64_t(bytes.size());
        return bytes;
    };
    if (entry.method == 0) {
        while (unread > 0) {
            const QByteArray bytes = readInput();
            if (bytes.isEmpty())
                return Result::Damaged;
            if (const auto stop = sink.take(bytes.constData(), std::uint64_t(bytes.size())))
                return *stop;
        }
        return sink.finish();
    }
    if (entry.method != 8)
        return Result::Damaged;

    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return Result::Damaged;
    const std::unique_ptr<z_stream, InflateEnd> cleanup(&z);
    QByteArray input;
    QByteArray output(chunk, Qt::Uninitialized);
    for (int status = Z_OK; status != Z_STREAM_END;) {
        if (z.avail_in == 0) {
            input = readInput();
            if (input.isEmpty())
                return Result::Damaged; // the stream ends before its last block
            z.next_in = reinterpret_cast<Bytef*>(input.data());
            z.avail_in = uInt(input.size());
        }
        z.next_out = reinterpret_cast<Bytef*>(output.data());
        z.avail_out = uInt(output.size());
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            return Result::Damaged;
        if (const auto stop = sink.take(output.constData(), std::uint64_t(output.size()) - z.avail_out))
            return *stop;
    }
    return sink.finish();
}
