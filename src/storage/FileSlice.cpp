#include "storage/FileSlice.h"

FileSlice::FileSlice(const QString& path, qint64 offset, qint64 length, QObject* parent)
    : QIODevice(parent), m_file(path), m_offset(offset), m_length(length) {}

bool FileSlice::open(OpenMode mode) {
    if ((mode & WriteOnly) || !m_file.open(QIODevice::ReadOnly) || !m_file.seek(m_offset))
        return false;
    return QIODevice::open(mode);
}

void FileSlice::close() {
    m_file.close();
    QIODevice::close();
}

bool FileSlice::seek(qint64 pos) {
    if (pos < 0 || pos > m_length || !m_file.seek(m_offset + pos))
        return false;
    return QIODevice::seek(pos);
}

qint64 FileSlice::readData(char* data, qint64 maxSize) {
    const qint64 left = m_length - (m_file.pos() - m_offset);
    if (left <= 0)
        return -1;
    return m_file.read(data, qMin(maxSize, left));
}
