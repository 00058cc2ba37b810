#pragma once

#include <QFile>
#include <QIODevice>

// A read-only window [offset, offset + length) of a file, so that one request body streams part
// of a large file straight from disk.
class FileSlice : public QIODevice {
    Q_OBJECT
public:
    FileSlice(const QString& path, qint64 offset, qint64 length, QObject* parent = nullptr);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_length; }
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile m_file;
    qint64 m_offset;
    qint64 m_length;
};
