#include "qrcode/QRCodeBoolMatrix.h"

QRCodeBoolMatrix::QRCodeBoolMatrix(int dimension) {
    const int n = dimension < 0 ? 0 : dimension;
    m_content.columns = n;
    m_content.rows = n;
    m_content.array.assign(std::size_t(n) * std::size_t(n), 0);
}

std::optional<QRCodeBoolMatrix> QRCodeBoolMatrix::fromBytes(int dimension,
                                                            std::vector<std::uint8_t> modules) {
    if (dimension < 0 || modules.size() != std::size_t(dimension) * std::size_t(dimension))
        return std::nullopt;
    QRCodeBoolMatrix m;
    m.m_content.columns = dimension;
    m.m_content.rows = dimension;
    for (auto& b : modules)
        b = b ? 1 : 0;
    m.m_content.array = std::move(modules);
    return m;
}

std::optional<QRCodeBoolMatrix> QRCodeBoolMatrix::fromFlattened(int dimension, const QList<bool>& flattened) {
    return fromBytes(dimension, std::vector<std::uint8_t>(flattened.begin(), flattened.end()));
}

std::optional<QRCodeBoolMatrix> QRCodeBoolMatrix::fromRawFlattenedInt(int dimension,
                                                                      const QList<int>& flattened) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t(flattened.size()));
    for (int v : flattened)
        bytes.push_back(v != 0 ? 1 : 0);
    return fromBytes(dimension, std::move(bytes));
}

bool QRCodeBoolMatrix::inRange(int row, int column) const {
    return row >= 0 && column >= 0 && row < m_content.rows && column < m_content.columns;
}

std::optional<bool> QRCodeBoolMatrix::value(int row, int column) const {
    if (!inRange(row, column))
        return std::nullopt;
    return (*this)(row, column);
}

bool QRCodeBoolMatrix::setValue(int row, int column, bool on) {
    if (!inRange(row, column))
        return false;
    m_content.array[std::size_t(row) * m_content.columns + column] = on ? 1 : 0;
    return true;
}
